// uidriver.exe: the driver's functions for shell scripts. Results go to stdout; the exit code
// is 0 on success, 1 when the window or the action failed, 2 on a usage error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "tools/uidriver/uidriver.h"

using namespace uidriver;

namespace {

const char Usage[] =
    "usage: uidriver COMMAND ...\n"
    "  wait-window [--class C] [--caption T] [--pid N] [--timeout MS]   prints the window\n"
    "  wait-gone HWND [--timeout MS]\n"
    "  info HWND                    class, caption, rectangles, region box, state\n"
    "  child HWND ID                prints the child window\n"
    "  click HWND ID                clicks the child ID of HWND with the real mouse\n"
    "  command HWND ID              posts WM_COMMAND ID\n"
    "  close HWND\n"
    "  mouse X Y [--client HWND]    moves the real mouse\n"
    "  mouse-click X Y [--client HWND]\n"
    "  type HWND TEXT | settext HWND TEXT | enter HWND | escape HWND\n"
    "  msgbox [--pid N] [--caption T] [--timeout MS]   prints window, caption, text\n"
    "  answer HWND [ID]             presses a message box button (IDOK)\n"
    "  settle HWND [--timeout MS]   waits until the window has painted everything\n";

struct Options {
    WindowQuery Query;
    DWORD TimeoutMs = DefaultTimeoutMs;
    HWND Client = nullptr;
    std::vector<std::string> Args;   // positional arguments after the command
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg.rfind("--", 0) == 0 && !hasValue) return false;
        if (arg == "--class") options.Query.ClassName = argv[++i];
        else if (arg == "--caption") options.Query.Caption = argv[++i];
        else if (arg == "--pid") options.Query.ProcessId = std::strtoul(argv[++i], nullptr, 0);
        else if (arg == "--timeout") options.TimeoutMs = std::strtoul(argv[++i], nullptr, 0);
        else if (arg == "--client") options.Client = HandleFromText(argv[++i]);
        else options.Args.push_back(arg);
    }
    return true;
}

void PrintRect(const char* name, RECT box)
{
    std::printf("%s %ld %ld %ld %ld\n", name, box.left, box.top, box.right, box.bottom);
}

int PrintInfo(HWND window)
{
    if (!IsWindow(window)) return 1;
    std::printf("class %s\ncaption %s\npid %lu\n", ClassOf(window).c_str(), TextOf(window).c_str(),
                ProcessOf(window));
    PrintRect("window", WindowBox(window));
    PrintRect("client", ClientBox(window));
    RECT region = {};
    if (RegionBox(window, region)) PrintRect("region", region);
    else std::printf("region none\n");
    std::printf("visible %d\nenabled %d\n", IsShown(window), IsEnabledWindow(window));
    return 0;
}

int Report(bool ok) { return ok ? 0 : 1; }

int PrintWindow(HWND window)
{
    if (!window) return 1;
    std::printf("%s\n", HandleText(window).c_str());
    return 0;
}

POINT PointArg(const Options& options)
{
    POINT point = {std::atoi(options.Args[0].c_str()), std::atoi(options.Args[1].c_str())};
    return options.Client ? ClientToScreenPoint(options.Client, point) : point;
}

int Run(const std::string& command, const Options& options)
{
    const auto& args = options.Args;
    const size_t count = args.size();
    HWND window = count > 0 ? HandleFromText(args[0]) : nullptr;
    if (command == "wait-window") return PrintWindow(WaitForWindow(options.Query, options.TimeoutMs));
    if (command == "msgbox") {
        const MessageBoxInfo box = WaitForMessageBox(options.Query.ProcessId, options.TimeoutMs,
                                                     options.Query.Caption);
        if (!box.Window) return 1;
        std::printf("%s\n%s\n%s\n", HandleText(box.Window).c_str(), box.Caption.c_str(), box.Text.c_str());
        return 0;
    }
    if (command == "wait-gone" && count == 1) return Report(WaitForWindowGone(window, options.TimeoutMs));
    if (command == "info" && count == 1) return PrintInfo(window);
    if (command == "child" && count == 2) return PrintWindow(ChildById(window, std::atoi(args[1].c_str())));
    if (command == "click" && count == 2) return Report(ClickButton(window, std::atoi(args[1].c_str())));
    if (command == "command" && count == 2) return Report(PostCommand(window, std::atoi(args[1].c_str())));
    if (command == "close" && count == 1) return Report(PostClose(window));
    if (command == "mouse" && count == 2) return Report(MoveMouseTo(PointArg(options)));
    if (command == "mouse-click" && count == 2) return Report(MouseClickAt(PointArg(options)));
    if (command == "type" && count == 2) return Report(TypeText(window, args[1]));
    if (command == "settext" && count == 2) return Report(SetText(window, args[1]));
    if (command == "enter" && count == 1) return Report(PressEnter(window));
    if (command == "escape" && count == 1) return Report(PressEscape(window));
    if (command == "answer" && (count == 1 || count == 2))
        return Report(AnswerMessageBox(window, count == 2 ? std::atoi(args[1].c_str()) : IDOK));
    if (command == "settle" && count == 1) return Report(WaitUntilSettled(window, options.TimeoutMs));
    std::fputs(Usage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (argc < 2 || !ParseOptions(argc, argv, options)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    const int code = Run(argv[1], options);
    std::fflush(stdout);
    return code;
}
