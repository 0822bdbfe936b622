// A quit request that arrives while a transfer pumps messages.
#include "tests/e2e/fixtures.h"
#include "res/resource.h"

using namespace uidriver;

namespace {
using QuitDuringTransfer = e2e::StarterTest;
}  // namespace

// Exit pressed while a catalogue download shows its status dialog: the pump dispatches the
// command and takes the quit request with it; the program must still end after the download.
TEST_F(QuitDuringTransfer, ExitWhileTheStatusDialogShowsEndsTheProgramAfterTheTransfer)
{
    e2e::GameServer server("127.0.0.120");
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(Install->WriteStarterDat(server.Address()));
    HWND main = StartStarter();
    ASSERT_NE(main, nullptr);

    ASSERT_TRUE(ClickButton(main, IDC_DOWNLOAD));
    WindowQuery status;
    status.ClassName = "#32770";
    status.Caption = "Status";
    status.ProcessId = Starter.Pid();
    ASSERT_NE(WaitForWindow(status, 20000), nullptr);
    ASSERT_TRUE(ClickButton(main, IDC_EXIT));

    DWORD exitCode = 1;
    EXPECT_TRUE(Starter.WaitForExit(30000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(server.Requests().size(), 1u);
}
