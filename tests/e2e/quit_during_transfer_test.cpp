// A quit request that arrives while a transfer pumps messages.
#include "tests/e2e/browser_fixture.h"

using namespace uidriver;

namespace {
using QuitDuringTransfer = e2e::BrowserTest;
}  // namespace

// A close request (the task bar's Close; Exit is disabled while the browser is open) while a
// catalogue download shows its status dialog: the pump dispatches it and takes the quit
// request with it; the program must still end after the download.
TEST_F(QuitDuringTransfer, CloseWhileTheStatusDialogShowsEndsTheProgramAfterTheTransfer)
{
    e2e::GameServer server;
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(Install->WriteStarterDat(server.Address()));
    Start();

    ASSERT_TRUE(ClickButton(Main, IDC_DOWNLOAD));
    ASSERT_TRUE(WaitFor([&] { return StatusDialog() != nullptr; }, e2e::TransferTimeoutMs));
    ASSERT_TRUE(PostClose(Main));   // from outside the program: no click causes it

    DWORD exitCode = 1;
    EXPECT_TRUE(Starter.WaitForExit(30000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(server.Requests().size(), 1u);
}
