// uidriver_probe.exe LOGFILE: a window for checking the UI driver across processes. It logs
// what reaches it (mouse moves and clicks, commands, dialog input) one line per event.
#include <windows.h>
#include <cstdio>
#include <string>

namespace {

constexpr int BoxButton = 100, EditBox = 101, ReportButton = 102, DialogButton = 103;
constexpr int DialogId = 200, DialogEdit = 1001;

struct ProbeState {
    std::string LogPath;
};

void Log(HWND window, const std::string& line)
{
    auto* state = reinterpret_cast<ProbeState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!state) return;
    if (FILE* file = std::fopen(state->LogPath.c_str(), "ab")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

std::string ControlText(HWND window, int id)
{
    char text[512] = {};
    GetDlgItemTextA(window, id, text, sizeof text);
    return text;
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        if (LOWORD(wParam) == IDOK)
            Log(reinterpret_cast<HWND>(GetWindowLongPtrA(dialog, DWLP_USER)), "dialog " + ControlText(dialog, DialogEdit));
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

void Command(HWND window, int id)
{
    if (id == BoxButton) {
        const int answer = MessageBoxA(window, "First line\nSecond line", "Probe box", MB_OKCANCEL);
        Log(window, "box " + std::to_string(answer));
    } else if (id == ReportButton) {
        Log(window, "edit " + ControlText(window, EditBox));
    } else if (id == DialogButton) {
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(DialogId), window, DialogProc,
                        reinterpret_cast<LPARAM>(window));
    }
}

void CreateControls(HWND window)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    const struct { const char* Class; const char* Text; int Id; int X, Y, W, H; DWORD Style; } controls[] = {
        {"BUTTON", "Box", BoxButton, 10, 10, 80, 24, BS_PUSHBUTTON},
        {"EDIT", "", EditBox, 10, 44, 160, 22, WS_BORDER | ES_AUTOHSCROLL},
        {"BUTTON", "Report", ReportButton, 10, 76, 80, 24, BS_PUSHBUTTON},
        {"BUTTON", "Dialog", DialogButton, 100, 76, 80, 24, BS_PUSHBUTTON},
    };
    for (const auto& c : controls)
        CreateWindowA(c.Class, c.Text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | c.Style, c.X, c.Y, c.W, c.H, window,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.Id)), instance, nullptr);
}

std::string PointText(const char* what, LPARAM lParam)
{
    return std::string(what) + " " + std::to_string(static_cast<short>(LOWORD(lParam))) + " " +
           std::to_string(static_cast<short>(HIWORD(lParam)));
}

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
        CreateControls(window);
        return 0;
    case WM_MOUSEMOVE: Log(window, PointText("move", lParam)); return 0;
    case WM_LBUTTONDOWN: Log(window, PointText("down", lParam)); return 0;
    case WM_COMMAND: Command(window, LOWORD(wParam)); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    ProbeState state{commandLine};
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ProbeProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "UiDriverProbe";
    RegisterClassA(&windowClass);
    // No caption or border, so client and window coordinates agree; the region cuts the corner.
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Probe", WS_POPUP, 100, 100, 300, 200,
                                  nullptr, nullptr, instance, &state);
    if (!window) return 1;
    HRGN region = CreateRectRgn(0, 0, 300, 150);
    HRGN corner = CreateRectRgn(0, 150, 200, 200);
    CombineRgn(region, region, corner, RGN_OR);
    DeleteObject(corner);
    SetWindowRgn(window, region, FALSE);   // the window owns the region now
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
