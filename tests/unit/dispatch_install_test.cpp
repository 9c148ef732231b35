// The installer command line reaches installer mode whole, and the mode's
// result becomes the exit code.
#include "app/dispatch.h"

#include "install_world.h"

namespace {

class DispatchInstallTest : public WorldTest {};

TEST_F(DispatchInstallTest, QuotedPackagePathArrivesUnquotedAndZeroIsTheExitCode) {
  const std::wstring msi = L"C:\\My Files\\u.msi";
  ArrangeInstallableMachine(msi);
  InstallerExitsWith(0);
  winsim::SetCommandLine(L"RemoteUpdater.exe --edk-remote-install-msi \"C:\\My Files\\u.msi\" tok");
  int exit_code = 77;

  EXPECT_TRUE(DispatchCommandLine(exit_code));
  EXPECT_EQ(exit_code, 0);
  ASSERT_EQ(winsim::Launches().size(), 1u);
  EXPECT_EQ(winsim::Launches()[0].command_line,
            L"\"C:\\Windows\\system32\\msiexec.exe\" /i \"C:\\My Files\\u.msi\" /qn "
            L"REINSTALLMODE=amus LAUNCH_TRAY_APP=N REBOOT=ReallySuppress /norestart /L*V "
            L"\"C:\\My Files\\u.msi.log\"");
  EXPECT_EQ(PublishedRecord(), L"tok|completed");
  EXPECT_FALSE(winsim::FileExists(msi));
}

}  // namespace
