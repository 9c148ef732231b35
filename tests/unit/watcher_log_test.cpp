// The watcher log where the simulation can go further than Wine: failing
// calls, folders that refuse files, and a watcher whose log is lost.
#include "relaunch/watcher_log.h"

#include <string>

#include "relaunch/relaunch_watcher.h"
#include "support/world_test.h"

namespace {

class WatcherLogTest : public WorldTest {
 protected:
  static std::optional<std::string> Log() { return winsim::FileContent(kUpdaterLog); }
};

TEST_F(WatcherLogTest, LongModulePathStillGetsItsLog) {
  const std::wstring folder = L"C:\\" + std::wstring(600, L'd');
  winsim::SetModuleFileName(folder + L"\\RemoteUpdater.exe");

  AppendWatcherLogLine("line");

  EXPECT_EQ(winsim::FileContent(folder + L"\\RemoteUpdater.exe.log"), "line\r\n");
}

TEST_F(WatcherLogTest, FailedWriteLeavesTheFileAsItWas) {
  winsim::SetFile(kUpdaterLog, "earlier\r\n");
  winsim::FailCall("WriteFile", 1, ERROR_ACCESS_DENIED);

  AppendWatcherLogLine("lost");
  AppendWatcherLogLine("kept");

  EXPECT_EQ(Log(), "earlier\r\nkept\r\n");
}

// Whatever keeps the log from being written, the watcher runs its course:
// it still launches after a completed update and ends with 0.
struct LostLogCase {
  const char* name;
  void (*arrange)();
};

void PrintTo(const LostLogCase& row, std::ostream* out) { *out << row.name; }

class LostLogTest : public WatcherLogTest, public ::testing::WithParamInterface<LostLogCase> {};

TEST_P(LostLogTest, WatcherRunsItsCourseWithoutALog) {
  GetParam().arrange();
  winsim::SetEnvironment(L"ProgramFiles", L"C:\\Program Files");
  winsim::SetRegistryString(kStatusKey, L"Status", L"tok|completed");

  EXPECT_EQ(RunRelaunchWatcher(L"", L"tok"), 0);

  EXPECT_EQ(winsim::Launches().size(), 1u);
  EXPECT_FALSE(winsim::FileExists(kUpdaterLog));
  EXPECT_EQ(winsim::UseCount("WriteFile"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, LostLogTest,
    ::testing::Values(
        LostLogCase{"ModulePathUnavailable",
                    [] { winsim::FailCall("GetModuleFileNameW", 0, ERROR_NOT_ENOUGH_MEMORY); }},
        LostLogCase{"FolderNotWritable", [] { winsim::DenyWritesBelow(L"C:\\Updater"); }},
        LostLogCase{"HeldWithoutSharingByAnotherProcess",
                    [] { winsim::HoldFile(kUpdaterLog, /*share_mode=*/0); }}),
    [](const ::testing::TestParamInfo<LostLogCase>& info) { return info.param.name; });

TEST_F(WatcherLogTest, TwoRunsLeaveBothRunsLinesInOrder) {
  winsim::SetRegistryString(kStatusKey, L"Status", L"tok|completed");
  EXPECT_EQ(RunRelaunchWatcher(L"", L"tok"), 1);  // ProgramFiles unset
  winsim::SetEnvironment(L"ProgramFiles", L"C:\\Program Files");
  EXPECT_EQ(RunRelaunchWatcher(L"", L"tok"), 0);

  const std::string waiting = "Waiting for update completion and old UI exit\r\n";
  EXPECT_EQ(Log(), waiting + waiting + "Launch PID=" +
                       std::to_string(winsim::Launches().at(0).pid) + " exit=259\r\n");
}

}  // namespace
