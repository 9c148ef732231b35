// The relaunch watcher against the simulated Windows: when it launches, when
// it gives up, what it logs, and how it retries, on the virtual clock. Which
// records count as this token's outcome is the record's own table
// (tests/both/update_status_test.cpp).
#include "relaunch/relaunch_watcher.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/world_test.h"

namespace {

using updater_contract::kWatcherFailedEarly;
using updater_contract::kWatcherGaveUp;
using updater_contract::kWatcherWaiting;

const std::wstring kToken = L"upd-7f3a";
const std::wstring kCompletion = StatusRecordText(kToken, kCompletedOutcome);
const std::wstring kFailure = StatusRecordText(kToken, FailedOutcome(L"MSI exit 1603"));
const std::vector<RecordWrite> kCompleted = {{0, kCompletion}};
const std::vector<RecordWrite> kFailed = {{0, kFailure}};

constexpr uint64_t kLimitMs = 3600 * 500;  // the 3600th pause ends here

winsim::LaunchScript Runs(std::optional<uint64_t> idle_after_ms = 0) {
  return {.idle_after_ms = idle_after_ms};
}
winsim::LaunchScript ExitsAfter(uint64_t ms, DWORD code) {
  return {.exit_after_ms = ms, .exit_code = code, .idle_after_ms = std::nullopt};
}

// A launch attempt as its log line tells it: started, with the exit code
// read after the idle wait, or not started, with the error.
struct Attempt {
  bool started;
  DWORD code;
};
constexpr Attempt kStillRunning{true, STILL_ACTIVE};
constexpr Attempt Exited(DWORD code) { return {true, code}; }
constexpr Attempt NotStarted(DWORD error) { return {false, error}; }
using Attempts = std::vector<Attempt>;

// How a run ends before any launch: the lines logged after the first.
enum class Ending { kLaunch, kGiveUpAtLimit, kFailedWhileOldUiRuns, kNoProductPath };

struct WatchCase {
  const char* name;
  Machine machine;
  Ending ending;
  int exit_code;
  uint64_t ends_at_ms;
  Attempts attempts = {kStillRunning};               // when it launches
  std::wstring old_ui = std::to_wstring(kOldUiPid);  // the id text it is given
};

class RelaunchWatcherTest : public WorldTest, public ::testing::WithParamInterface<WatchCase> {};

TEST_P(RelaunchWatcherTest, LogsAndEndsAsTheRecordAndOldUiDecide) {
  const WatchCase& row = GetParam();
  ArrangeMachine(row.machine);

  EXPECT_EQ(RunRelaunchWatcher(row.old_ui, kToken), row.exit_code);

  EXPECT_EQ(winsim::NowMs(), row.ends_at_ms);
  const bool launched = row.ending == Ending::kLaunch;
  ASSERT_EQ(winsim::Launches().size(), launched ? row.attempts.size() : 0u);
  std::string log = WatcherLine(kWatcherWaiting);
  if (row.ending == Ending::kFailedWhileOldUiRuns) log += WatcherLine(kWatcherFailedEarly);
  if (row.ending == Ending::kGiveUpAtLimit || row.ending == Ending::kFailedWhileOldUiRuns) {
    log += WatcherLine(kWatcherGaveUp);
  }
  for (size_t i = 0; launched && i < row.attempts.size(); ++i) {
    const Attempt& attempt = row.attempts[i];
    log += attempt.started ? LaunchLine(winsim::Launches()[i].pid, attempt.code)
                           : CreateFailedLine(attempt.code);
  }
  EXPECT_EQ(WatcherLog(), log);
}

// The machine of a row: the old UI ending then (kNever: never; none: no
// such process), the record's writes, how launches go and which calls fail.
Machine Watched(std::optional<uint64_t> old_ui_ends_at_ms, std::vector<RecordWrite> record,
                std::vector<winsim::LaunchScript> launches = {}, std::vector<Fault> faults = {}) {
  return {.old_ui_exits_at_ms = old_ui_ends_at_ms,
          .record = std::move(record),
          .product_launches = std::move(launches),
          .faults = std::move(faults)};
}
// A completed update with the old UI gone, launched as scripted.
Machine Launched(std::vector<winsim::LaunchScript> launches, std::vector<Fault> faults = {}) {
  return Watched(std::nullopt, kCompleted, std::move(launches), std::move(faults));
}

using E = Ending;
const std::vector<RecordWrite> kOtherFailure = {
    {0, StatusRecordText(L"upd-0001", FailedOutcome(L"x"))}};
const std::vector<RecordWrite> kOverwritten = {
    {0, kCompletion}, {5000, StatusRecordText(L"upd-0002", kCompletedOutcome)}};
const Machine kDone = Watched(std::nullopt, kCompleted);
const Attempts kOnce = {kStillRunning};
// clang-format off
const WatchCase kWatchRows[] = {
    // No outcome for this token: the watcher waits out its limit.
    {"NoRecordOldUiRuns", Watched(kNever, {}), E::kGiveUpAtLimit, 1, kLimitMs},
    {"NoRecordOldUiEnded", Watched(0, {}), E::kGiveUpAtLimit, 1, kLimitMs},
    {"OtherTokensFailureWhileOldUiRuns", Watched(kNever, kOtherFailure), E::kGiveUpAtLimit, 1,
     kLimitMs},
    {"CompletionWhileOldUiRunsOn", Watched(kNever, kCompleted), E::kGiveUpAtLimit, 1, kLimitMs},
    // This token's outcome with the old UI gone: launch, 0 only after completion.
    {"CompletionAfterOldUiEnded", Watched(0, kCompleted), E::kLaunch, 0, 0},
    {"FailureAfterOldUiEnded", Watched(0, kFailed), E::kLaunch, 1, 0},
    // Failure while the old UI runs: give up at once, without a pause.
    {"FailureWhileOldUiRuns", Watched(kNever, kFailed), E::kFailedWhileOldUiRuns, 1, 0},
    // Over time: each poll looks again; only the old UI's end is remembered.
    {"OldUiEndsAfterCompletion", Watched(12300, kCompleted), E::kLaunch, 0, 12500},
    {"CompletionArrivesAfterOldUiEnded", Watched(3000, {{12500, kCompletion}}), E::kLaunch, 0,
     12500},
    {"FailureArrivesWhileOldUiRuns", Watched(kNever, {{7000, kFailure}}), E::kFailedWhileOldUiRuns,
     1, 7000},
    {"CompletionOverwrittenBeforeOldUiEnds", Watched(10000, kOverwritten), E::kGiveUpAtLimit, 1,
     kLimitMs},
    // The 3600th poll is at 1799.5 s; the pause after it is the last thing done.
    {"CompletionAtTheLastPoll", Watched(0, {{kLimitMs - 500, kCompletion}}), E::kLaunch, 0,
     kLimitMs - 500},
    {"CompletionJustAfterTheLastPoll", Watched(0, {{kLimitMs - 499, kCompletion}}),
     E::kGiveUpAtLimit, 1, kLimitMs},
    // The poll at 500 ms would see the old UI ended; its wait fails instead.
    {"FailedWaitCountsAsOldUiStillRunning",
     Watched(200, kCompleted, {}, {{"WaitForSingleObject", 2, kDenied}}), E::kLaunch, 0, 1000},
    // An old UI that cannot be waited on counts as ended from the first poll.
    {"OldUiRefusesToBeOpened", Watched(kNever, kCompleted, {}, {{"OpenProcess", 0, kDenied}}),
     E::kLaunch, 0, 0, kOnce, L" 4242x"},
    {"EmptyId", kDone, E::kLaunch, 0, 0, kOnce, L""},
    {"IdWithoutDigits", kDone, E::kLaunch, 0, 0, kOnce, L"abc"},
    {"IdZero", kDone, E::kLaunch, 0, 0, kOnce, L"0"},
    {"IdOfNoProcess", kDone, E::kLaunch, 0, 0, kOnce, L"  +917"},
    {"IdWithTrailingText", kDone, E::kLaunch, 0, 0, kOnce, L"917;"},
    {"NegativeId", kDone, E::kLaunch, 0, 0, kOnce, L"-1"},
    {"IdOutOfRange", kDone, E::kLaunch, 0, 0, kOnce, L"99999999999"},
    {"WithoutProgramFilesTouchesNothing",
     Machine{.program_files = std::nullopt, .old_ui_exits_at_ms = kNever, .record = kCompleted},
     E::kNoProductPath, 1, 0},
    // Launch attempts: one log line each, retried a second later up to 20 times.
    {"StillRunningAfterTheFullIdleWait", Launched({Runs(std::nullopt)}), E::kLaunch, 0, 10000},
    {"IdleWaitFailsButProcessRuns", Launched({}, {{"WaitForInputIdle", 0, kDenied}}), E::kLaunch, 0,
     0},
    {"ExitsWithZeroDuringIdleWait", Launched({ExitsAfter(300, 0)}), E::kLaunch, 0, 300,
     Attempts{Exited(0)}},
    {"ExitsWithThreeThenRuns", Launched({ExitsAfter(300, 3), Runs()}), E::kLaunch, 0, 1300,
     Attempts{Exited(3), kStillRunning}},
    {"CrashCodeIsWrittenUnsigned", Launched({ExitsAfter(0, 0xC0000005u), Runs()}), E::kLaunch, 0,
     1000, Attempts{Exited(0xC0000005u), kStillRunning}},
    {"CannotStartThenExitsThenRuns",
     Launched({ExitsAfter(0, 3), Runs()}, {{"CreateProcessW", 1, kDenied}}), E::kLaunch, 0, 2000,
     Attempts{NotStarted(kDenied), Exited(3), kStillRunning}},
    {"ExitsWithThreeEveryTime", Launched({ExitsAfter(300, 3)}), E::kLaunch, 1, 20 * 1300,
     Attempts(20, Exited(3))},
    {"CannotStartEveryTime", Launched({}, {{"CreateProcessW", 0, ERROR_FILE_NOT_FOUND}}),
     E::kLaunch, 1, 20 * 1000, Attempts(20, NotStarted(ERROR_FILE_NOT_FOUND))},
    {"ExitCodeNeverReadable", Launched({}, {{"GetExitCodeProcess", 0, kDenied}}), E::kLaunch, 1,
     20 * 1000, Attempts(20, kStillRunning)},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, RelaunchWatcherTest, ::testing::ValuesIn(kWatchRows), kRowName);

// The product starts from its folder, ProgramFiles and the folder's name
// whatever ProgramFiles ends with, with its quoted path and a normal window.
class ProductLaunchTest : public WorldTest, public ::testing::WithParamInterface<std::wstring> {};

TEST_P(ProductLaunchTest, StartsTheProductFromItsFolder) {
  ArrangeMachine({.program_files = GetParam(), .record = kCompleted});

  EXPECT_EQ(RunRelaunchWatcher(L"", kToken), 0);

  ASSERT_EQ(winsim::Launches().size(), 1u);
  const winsim::Launch& launch = winsim::Launches()[0];
  EXPECT_EQ(launch.application, ProductPathBelow(GetParam()));
  EXPECT_EQ(launch.command_line, L"\"" + launch.application + L"\"");
  EXPECT_EQ(launch.current_directory, GetParam() + L"\\" + updater_contract::kProductFolderName);
  EXPECT_EQ(launch.show_command, SW_SHOWNORMAL);
  EXPECT_FALSE(launch.windowless);
}

INSTANTIATE_TEST_SUITE_P(ProgramFilesValues, ProductLaunchTest,
                         ::testing::Values(kProgramFiles, kProgramFiles + L"\\", L"D:/Apps",
                                           L"Apps"));

}  // namespace
