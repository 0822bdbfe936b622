#include "tools/uidriver/uidriver.h"
#include <cstdio>
#include <cstdlib>

namespace uidriver {
namespace {

constexpr UINT MessageTimeoutMs = 2000;

struct RegionHolder {
    HRGN Region = CreateRectRgn(0, 0, 0, 0);
    ~RegionHolder() { DeleteObject(Region); }
};

bool Matches(HWND window, const WindowQuery& query)
{
    if (query.VisibleOnly && !IsWindowVisible(window)) return false;
    if (query.ProcessId != 0 && ProcessOf(window) != query.ProcessId) return false;
    if (!query.ClassName.empty() && ClassOf(window) != query.ClassName) return false;
    if (!query.Caption.empty()) {
        char caption[512] = {};
        GetWindowTextA(window, caption, sizeof caption);
        if (query.Caption != caption) return false;
    }
    return true;
}

struct Search {
    const WindowQuery* Query;
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectMatch(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<Search*>(context);
    if (Matches(window, *search->Query)) search->Found.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM context)
{
    auto* text = reinterpret_cast<std::string*>(context);
    if (_stricmp(ClassOf(child).c_str(), "Static") != 0) return TRUE;
    const std::string part = TextOf(child);
    if (part.empty()) return TRUE;
    if (!text->empty()) *text += "\n";
    *text += part;
    return TRUE;
}

bool SendMouse(DWORD flags, POINT screen)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    if (flags & MOUSEEVENTF_ABSOLUTE) {
        const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
        input.mi.dx = MulDiv(screen.x, 65535, width - 1);
        input.mi.dy = MulDiv(screen.y, 65535, height - 1);
    }
    return SendInput(1, &input, sizeof input) == 1;
}

bool PostKey(HWND control, UINT key)
{
    const UINT scan = MapVirtualKeyA(key, MAPVK_VK_TO_VSC);
    return PostMessageA(control, WM_KEYDOWN, key, 1 | (scan << 16)) &&
           PostMessageA(control, WM_KEYUP, key, 1 | (scan << 16) | (3u << 30));
}

}  // namespace

HWND FindTopWindow(const WindowQuery& query)
{
    const std::vector<HWND> found = FindTopWindows(query);
    return found.empty() ? nullptr : found.front();
}

std::vector<HWND> FindTopWindows(const WindowQuery& query)
{
    Search search{&query, {}};
    EnumWindows(CollectMatch, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND WaitForWindow(const WindowQuery& query, DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitFor([&] { return (found = FindTopWindow(query)) != nullptr; }, timeoutMs);
    return found;
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs)
{
    return WaitFor([&] { return !IsWindow(window); }, timeoutMs);
}

HWND ChildById(HWND parent, int id)
{
    return parent ? GetDlgItem(parent, id) : nullptr;
}

HWND WaitForChild(HWND parent, int id, DWORD timeoutMs)
{
    HWND child = nullptr;
    WaitFor([&] { return (child = ChildById(parent, id)) != nullptr; }, timeoutMs);
    return child;
}

std::string ClassOf(HWND window)
{
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, MessageTimeoutMs, &length))
        return {};
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                             SMTO_ABORTIFHUNG, MessageTimeoutMs, &copied))
        return {};
    text.resize(copied < length ? copied : length);
    return text;
}

DWORD ProcessOf(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

RECT WindowBox(HWND window)
{
    RECT box = {};
    GetWindowRect(window, &box);
    return box;
}

RECT ClientBox(HWND window)
{
    RECT box = {};
    GetClientRect(window, &box);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&box), 2);
    return box;
}

bool IsShown(HWND window) { return IsWindowVisible(window) != FALSE; }
bool IsEnabledWindow(HWND window) { return IsWindowEnabled(window) != FALSE; }
HWND OwnerOf(HWND window) { return GetWindow(window, GW_OWNER); }

bool RegionBox(HWND window, RECT& box)
{
    RegionHolder holder;
    const int type = GetWindowRgn(window, holder.Region);
    if (type == ERROR || type == NULLREGION) return false;
    return GetRgnBox(holder.Region, &box) != ERROR;
}

bool RegionContains(HWND window, POINT windowPoint)
{
    RegionHolder holder;
    const int type = GetWindowRgn(window, holder.Region);
    if (type == ERROR) return true;
    return PtInRegion(holder.Region, windowPoint.x, windowPoint.y) != FALSE;
}

bool WaitUntilSettled(HWND window, DWORD timeoutMs)
{
    return WaitFor([&] {
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, MessageTimeoutMs, &ignored))
            return false;
        return GetUpdateRect(window, nullptr, FALSE) == FALSE;
    }, timeoutMs);
}

bool ClickButton(HWND parent, int id)
{
    HWND button = ChildById(parent, id);
    return button && IsWindowVisible(button) && MouseClickAt(CenterOf(button));
}

bool PostButtonCommand(HWND parent, int id)
{
    HWND button = ChildById(parent, id);
    if (!button) return false;
    return PostMessageA(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

bool PressButton(HWND button)
{
    return button && PostMessageA(button, BM_CLICK, 0, 0);
}

bool PostCommand(HWND window, int id)
{
    return PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

bool PostClose(HWND window)
{
    return PostMessageA(window, WM_CLOSE, 0, 0);
}

bool MoveMouseTo(POINT screen)
{
    const bool placed = SetCursorPos(screen.x, screen.y) != FALSE;
    return SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, screen) && placed;
}

bool MoveMouseToClient(HWND window, POINT client)
{
    return MoveMouseTo(ClientToScreenPoint(window, client));
}

bool MouseClickAt(POINT screen)
{
    return MoveMouseTo(screen) && SendMouse(MOUSEEVENTF_LEFTDOWN, screen) &&
           SendMouse(MOUSEEVENTF_LEFTUP, screen);
}

bool MouseClickClient(HWND window, POINT client)
{
    return MouseClickAt(ClientToScreenPoint(window, client));
}

POINT MousePosition()
{
    POINT point = {};
    GetCursorPos(&point);
    return point;
}

POINT ClientToScreenPoint(HWND window, POINT client)
{
    ClientToScreen(window, &client);
    return client;
}

POINT CenterOf(HWND window)
{
    const RECT box = WindowBox(window);
    return {(box.left + box.right) / 2, (box.top + box.bottom) / 2};
}

bool TypeText(HWND edit, const std::string& text)
{
    if (!edit) return false;
    for (unsigned char c : text)
        if (!PostMessageA(edit, WM_CHAR, c, 1)) return false;
    return true;
}

bool SetText(HWND edit, const std::string& text)
{
    DWORD_PTR result = 0;
    return edit && SendMessageTimeoutA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                       SMTO_ABORTIFHUNG, MessageTimeoutMs, &result) && result;
}

bool PressEnter(HWND control) { return control && PostKey(control, VK_RETURN); }
bool PressEscape(HWND control) { return control && PostKey(control, VK_ESCAPE); }

bool SendKeys(const std::string& text)
{
    std::vector<INPUT> inputs;
    for (unsigned char c : text) {
        wchar_t wide = 0;
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(&c), 1, &wide, 1);
        for (DWORD up : {DWORD(0), DWORD(KEYEVENTF_KEYUP)}) {
            INPUT input = {};
            input.type = INPUT_KEYBOARD;
            input.ki.wScan = wide;
            input.ki.dwFlags = KEYEVENTF_UNICODE | up;
            inputs.push_back(input);
        }
    }
    if (inputs.empty()) return true;
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

bool SendKeyChord(const std::vector<WORD>& keys)
{
    std::vector<INPUT> inputs;
    auto add = [&](WORD key, DWORD flags) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = flags;
        inputs.push_back(input);
    };
    for (WORD key : keys)
        add(key, 0);
    for (auto key = keys.rbegin(); key != keys.rend(); ++key)
        add(*key, KEYEVENTF_KEYUP);
    return !inputs.empty() && SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

bool SendKey(WORD virtualKey, bool shift)
{
    return shift ? SendKeyChord({VK_SHIFT, virtualKey}) : SendKeyChord({virtualKey});
}

HWND FocusOf(HWND window)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

MessageBoxInfo ReadMessageBox(HWND box)
{
    MessageBoxInfo info;
    if (!box) return info;
    info.Window = box;
    char caption[512] = {};
    GetWindowTextA(box, caption, sizeof caption);
    info.Caption = caption;
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&info.Text));
    return info;
}

MessageBoxInfo WaitForMessageBox(DWORD processId, DWORD timeoutMs, const std::string& caption)
{
    WindowQuery query;
    query.ClassName = "#32770";
    query.Caption = caption;
    query.ProcessId = processId;
    return ReadMessageBox(WaitForWindow(query, timeoutMs));
}

bool AnswerMessageBox(HWND box, int buttonId)
{
    return box && PostMessageA(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                               reinterpret_cast<LPARAM>(GetDlgItem(box, buttonId)));
}

std::string HandleText(HWND window)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    return text;
}

HWND HandleFromText(const std::string& text)
{
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(text.c_str(), nullptr, 0)));
}

}  // namespace uidriver
