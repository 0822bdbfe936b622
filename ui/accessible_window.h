// What screen readers are told of the skinned windows: their window texts are picture numbers,
// so each answers WM_GETOBJECT with an object of ours that names it.
#pragma once
#include <windows.h>
#include <string_view>

// Texts as views of the string table's rows (std::wstring would bring its whole library along).
struct AccessibleFacts {
    std::wstring_view Name;
    std::wstring_view Description;
    long Role = 0;             // ROLE_SYSTEM_*
    bool Focusable = false;    // even while disabled
};
// Fills the facts of the window as it is now; false: nothing of ours to say.
using DescribeWindow = bool (*)(HWND window, AccessibleFacts& facts);

// The answer to WM_GETOBJECT for the client object (OBJID_CLIENT): ours gives the name,
// description, role and state and hands everything else to the system's standard object. 0 for
// every other object, or when the accessibility library is missing: the caller then passes the
// message on.
LRESULT AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam, DescribeWindow describe);
