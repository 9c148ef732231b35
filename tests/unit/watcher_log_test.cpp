// The watcher log where the simulation can go further than Wine: failing
// calls, folders that refuse files, and a watcher whose log is lost.
#include "relaunch/watcher_log.h"

#include <string>

#include "relaunch/relaunch_watcher.h"
#include "support/world_test.h"

namespace {

class WatcherLogTest : public WorldTest {};

TEST_F(WatcherLogTest, LongModulePathStillGetsItsLog) {
  const std::wstring updater =
      L"C:\\" + std::wstring(600, L'd') + L"\\" + updater_contract::kUpdaterFileName;
  winsim::SetModuleFileName(updater);
  AppendWatcherLogLine("line");
  EXPECT_EQ(winsim::FileContent(updater + updater_contract::kLogSuffix), "line\r\n");
}

TEST_F(WatcherLogTest, FailedWriteLeavesTheFileAsItWas) {
  winsim::SetFile(kUpdaterLog, "earlier\r\n");
  winsim::FailCall("WriteFile", 1, ERROR_ACCESS_DENIED);
  AppendWatcherLogLine("lost");
  AppendWatcherLogLine("kept");
  EXPECT_EQ(WatcherLog(), "earlier\r\nkept\r\n");
}

// Whatever keeps the log from being written, the watcher runs its course:
// it still launches after a completed update and ends with 0.
struct LostLogCase {
  const char* name;
  std::vector<Fault> faults;
  std::wstring unwritable_folder;  // or empty
  bool held_without_sharing;
};

class LostLogTest : public WatcherLogTest, public ::testing::WithParamInterface<LostLogCase> {};

TEST_P(LostLogTest, WatcherRunsItsCourseWithoutALog) {
  ArrangeMachine(
      {.record = {{0, StatusRecordText(L"tok", kCompletedOutcome)}}, .faults = GetParam().faults});
  if (!GetParam().unwritable_folder.empty()) winsim::DenyWritesBelow(GetParam().unwritable_folder);
  if (GetParam().held_without_sharing) winsim::HoldFile(kUpdaterLog, /*share_mode=*/0);

  EXPECT_EQ(RunRelaunchWatcher(L"", L"tok"), 0);
  EXPECT_EQ(winsim::Launches().size(), 1u);
  EXPECT_FALSE(winsim::FileExists(kUpdaterLog));
}

INSTANTIATE_TEST_SUITE_P(
    Causes, LostLogTest,
    ::testing::Values(LostLogCase{"ModulePathUnavailable",
                                  {{"GetModuleFileNameW", 0, ERROR_NOT_ENOUGH_MEMORY}},
                                  L"",
                                  false},
                      LostLogCase{"FolderNotWritable", {}, L"C:\\Updater", false},
                      LostLogCase{"HeldWithoutSharingByAnotherProcess", {}, L"", true}),
    kRowName);

}  // namespace
