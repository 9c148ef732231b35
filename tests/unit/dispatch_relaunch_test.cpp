// A relaunch command line reaches the watcher, and its result becomes the
// dispatcher's exit code.
#include "app/dispatch.h"

#include "support/world_test.h"

namespace {

class DispatchRelaunchTest : public WorldTest {
 protected:
  static std::string Log() {
    return winsim::FileContent(L"C:\\Updater\\RemoteUpdater.exe.log").value_or("");
  }
};

TEST_F(DispatchRelaunchTest, CompletedUpdateGivesExitCodeZero) {
  winsim::SetCommandLine(L"\"C:\\Updater\\RemoteUpdater.exe\" --edk-remote-relaunch 42 tok");
  winsim::SetEnvironment(L"ProgramFiles", L"C:\\Program Files");
  winsim::SetRegistryString(kStatusKey, L"Status", L"tok|completed");
  int exit_code = 77;

  EXPECT_TRUE(DispatchCommandLine(exit_code));

  EXPECT_EQ(exit_code, 0);
  EXPECT_EQ(Log().rfind("Waiting for update completion and old UI exit\r\nLaunch PID=", 0), 0u)
      << Log();
  EXPECT_EQ(winsim::CallsTo("OpenProcess").at(0).detail, L"pid=42 access=0x100000 inherit=0");
}

TEST_F(DispatchRelaunchTest, WatcherThatCannotFormTheProductPathGivesExitCodeOne) {
  winsim::SetCommandLine(L"RemoteUpdater.exe --edk-remote-relaunch 42 tok");
  int exit_code = 77;

  EXPECT_TRUE(DispatchCommandLine(exit_code));

  EXPECT_EQ(exit_code, 1);
  EXPECT_EQ(Log(), "Waiting for update completion and old UI exit\r\n");
}

}  // namespace
