#include "app/base/lang_text.h"

#include "app/base/app_state.h"
#include "app/base/paths.h"

#include <cstring>

namespace {
// Before the main window exists App.Instance is still null: the texts are in our own module.
HINSTANCE TextModule()
{
    return App.Instance ? App.Instance : GetModuleHandleA(nullptr);
}

// The system keeps only the low 16 bits of a string id: an id beyond them would
// read some other row, so it counts as missing.
bool IsStringId(long long id)
{
    return id > 0 && id <= 0xFFFF;
}

bool LoadIntoTextBuffer(long long id)
{
    if (!IsStringId(id))
        return false;
    return LoadStringA(TextModule(), static_cast<UINT>(id), App.TextBuffer, TextBufferSize) > 0;
}

long long LanguageId(int baseId)
{
    return baseId + static_cast<long long>(IDS_LANGUAGE_STRIDE) * App.LanguageIndex;
}
}

const char* LoadLangString(int baseId)
{
    std::memset(App.TextBuffer, 0, sizeof App.TextBuffer);
    if (!LoadIntoTextBuffer(LanguageId(baseId)) && !LoadIntoTextBuffer(baseId))
        CopyToBuffer(App.TextBuffer, sizeof App.TextBuffer, "Internal error");
    return App.TextBuffer;
}

std::wstring_view LoadLangStringW(int baseId)
{
    for (const long long id : {LanguageId(baseId), static_cast<long long>(baseId)}) {
        // With no room given, the system hands out the row itself, which is not terminated.
        const wchar_t* text = nullptr;
        const int length = IsStringId(id) ? LoadStringW(TextModule(), static_cast<UINT>(id),
                                                        reinterpret_cast<LPWSTR>(&text), 0)
                                          : 0;
        if (length > 0)
            return {text, static_cast<std::size_t>(length)};
    }
    return L"Internal error";
}

std::string LoadFixedString(int id)
{
    char text[TitleBufferSize] = {};
    LoadStringA(TextModule(), static_cast<UINT>(id), text, sizeof text);
    return text;
}
