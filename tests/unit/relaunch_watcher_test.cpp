// The relaunch watcher against the simulated Windows: when it launches, when
// it gives up, what it logs, and how it retries, on the virtual clock.
#include "relaunch/relaunch_watcher.h"

#include <optional>
#include <string>
#include <vector>

#include "support/world_test.h"

namespace {

constexpr wchar_t kToken[] = L"upd-7f3a";
const std::wstring kCompletion = std::wstring(kToken) + L"|completed";
const std::wstring kFailure = std::wstring(kToken) + L"|failed:MSI exit 1603; log: C:\\u.msi.log";

const std::string kWaitingLine = "Waiting for update completion and old UI exit\r\n";
const std::string kFailedEarlyLine = "Update failed before old UI exited\r\n";
const std::string kGaveUpLine = "Relaunch watcher ended without launching the application\r\n";

constexpr uint64_t kNever = UINT64_MAX;
constexpr uint64_t kLimitMs = 3600 * 500;  // the 3600th pause ends here

std::string LaunchLine(DWORD pid, const std::string& exit_field) {
  return "Launch PID=" + std::to_string(pid) + " exit=" + exit_field + "\r\n";
}

class RelaunchWatcherTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    winsim::SetEnvironment(L"ProgramFiles", L"C:\\Program Files");
  }

  // An old UI that ends at `ends_at_ms` (0: had ended before the watcher
  // started; kNever: never); returns its id as the command line carries it.
  static std::wstring OldUi(uint64_t ends_at_ms) {
    winsim::ProcessSpec old_ui;
    old_ui.exe_name = L"Corvanta Remote.exe";
    old_ui.image_path = kInstalledProduct;
    if (ends_at_ms != kNever) old_ui.exits_at_ms = ends_at_ms;
    return std::to_wstring(winsim::AddProcess(old_ui));
  }

  static void SetRecord(const std::wstring& text, DWORD type = REG_SZ) {
    winsim::SetRegistryString(kStatusKey, L"Status", text, type);
  }

  static int Run(const std::wstring& process_id_text, const std::wstring& token = kToken) {
    return RunRelaunchWatcher(process_id_text, token);
  }

  static std::string Log() { return winsim::FileContent(kUpdaterLog).value_or("<no log file>"); }
  // Each poll reads the record once, and each read opens the key once.
  static unsigned Polls() { return winsim::UseCount("RegOpenKeyExW"); }
  // Whether a handle to `pid` was still open at the first launch or, without
  // one, when the log was opened for the last line.
  static bool HeldAtTheEnd(const std::wstring& pid) {
    const std::vector<winsim::Call>& calls = winsim::Journal();
    size_t end = 0;
    for (size_t i = 0; i < calls.size() && calls[end].function != "CreateProcessW"; ++i) {
      if (calls[i].function == "CreateProcessW" || calls[i].function == "CreateFileW") end = i;
    }
    int open = 0;
    for (size_t i = 0; i < end; ++i) {
      if ((calls[i].detail + L" ").rfind(L"pid=" + pid + L" ", 0) != 0) continue;
      if (calls[i].function == "OpenProcess" && calls[i].result != 0) ++open;
      if (calls[i].function == "CloseHandle") --open;
    }
    return open != 0;
  }
  static size_t LaunchCount() { return winsim::Launches().size(); }
  static DWORD LaunchedPid(size_t attempt = 0) { return winsim::Launches().at(attempt).pid; }
};

// ---- The decision table, row by row and over time ------------------------

enum class Ending { kLaunch, kGiveUpAtLimit, kFailedWhileOldUiRuns };

struct RecordWrite {
  uint64_t at_ms;  // 0: in place before the watcher starts
  std::wstring text;
  DWORD type = REG_SZ;
};

struct WaitCase {
  const char* name;
  uint64_t old_ui_ends_at_ms;
  std::vector<RecordWrite> record;
  Ending ending;
  int exit_code;
  unsigned polls;
  uint64_t ends_at_ms;
};

void PrintTo(const WaitCase& row, std::ostream* out) { *out << row.name; }

class WaitTest : public RelaunchWatcherTest, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(WaitTest, LogsPollsAndEndsAsTheRecordAndOldUiDecide) {
  const WaitCase& row = GetParam();
  for (const RecordWrite& write : row.record) {
    if (write.at_ms == 0) SetRecord(write.text, write.type);
    if (write.at_ms != 0) winsim::At(write.at_ms, [write] { SetRecord(write.text, write.type); });
  }

  const std::wstring old_ui = OldUi(row.old_ui_ends_at_ms);
  EXPECT_EQ(Run(old_ui), row.exit_code);

  EXPECT_EQ(Polls(), row.polls);
  EXPECT_EQ(winsim::NowMs(), row.ends_at_ms);
  const bool launched = row.ending == Ending::kLaunch;
  ASSERT_EQ(LaunchCount(), launched ? 1u : 0u);
  if (launched) EXPECT_EQ(Log(), kWaitingLine + LaunchLine(LaunchedPid(), "259"));
  if (row.ending == Ending::kGiveUpAtLimit) EXPECT_EQ(Log(), kWaitingLine + kGaveUpLine);
  if (row.ending == Ending::kFailedWhileOldUiRuns) {
    EXPECT_EQ(Log(), kWaitingLine + kFailedEarlyLine + kGaveUpLine);
  }
  // The old UI's handle is closed before the launch or the give-up line.
  EXPECT_FALSE(HeldAtTheEnd(old_ui));
}

using E = Ending;
INSTANTIATE_TEST_SUITE_P(
    Rows, WaitTest,
    ::testing::Values(
        // No outcome for this token: the watcher waits out its limit.
        WaitCase{"NoRecordOldUiRuns", kNever, {}, E::kGiveUpAtLimit, 1, 3600, kLimitMs},
        WaitCase{"NoRecordOldUiEnded", 0, {}, E::kGiveUpAtLimit, 1, 3600, kLimitMs},
        WaitCase{"EmptyRecord", 0, {{0, L""}}, E::kGiveUpAtLimit, 1, 3600, kLimitMs},
        WaitCase{"OtherTokensCompletion", 0, {{0, L"upd-0001|completed"}}, E::kGiveUpAtLimit, 1,
                 3600, kLimitMs},
        WaitCase{"OtherTokensFailureWhileOldUiRuns", kNever, {{0, L"upd-0001|failed:x"}},
                 E::kGiveUpAtLimit, 1, 3600, kLimitMs},
        WaitCase{"CompletionWithTrailingSpace", 0, {{0, kCompletion + L" "}}, E::kGiveUpAtLimit,
                 1, 3600, kLimitMs},
        WaitCase{"CompletedInCapitals", 0, {{0, std::wstring(kToken) + L"|COMPLETED"}},
                 E::kGiveUpAtLimit, 1, 3600, kLimitMs},
        WaitCase{"TokenInOtherCase", 0, {{0, L"UPD-7F3A|completed"}}, E::kGiveUpAtLimit, 1, 3600,
                 kLimitMs},
        WaitCase{"FailedWithoutColon", 0, {{0, std::wstring(kToken) + L"|failed"}},
                 E::kGiveUpAtLimit, 1, 3600, kLimitMs},
        WaitCase{"CompletionStoredAsExpandString", 0, {{0, kCompletion, REG_EXPAND_SZ}},
                 E::kGiveUpAtLimit, 1, 3600, kLimitMs},
        WaitCase{"CompletionWhileOldUiRunsOn", kNever, {{0, kCompletion}}, E::kGiveUpAtLimit, 1,
                 3600, kLimitMs},
        // This token's outcome with the old UI gone: launch, 0 only after completion.
        WaitCase{"CompletionAfterOldUiEnded", 0, {{0, kCompletion}}, E::kLaunch, 0, 1, 0},
        WaitCase{"FailureAfterOldUiEnded", 0, {{0, kFailure}}, E::kLaunch, 1, 1, 0},
        WaitCase{"BareFailurePrefixAfterOldUiEnded", 0, {{0, std::wstring(kToken) + L"|failed:"}},
                 E::kLaunch, 1, 1, 0},
        WaitCase{"FailureEndingInCompletedAfterOldUiEnded", 0,
                 {{0, std::wstring(kToken) +
                          L"|failed:Remote service could not restart; installation result: "
                          L"completed"}},
                 E::kLaunch, 1, 1, 0},
        // Failure while the old UI runs: give up at once, without a pause.
        WaitCase{"FailureWhileOldUiRuns", kNever, {{0, kFailure}}, E::kFailedWhileOldUiRuns, 1, 1,
                 0},
        WaitCase{"BareFailurePrefixWhileOldUiRuns", kNever,
                 {{0, std::wstring(kToken) + L"|failed:"}}, E::kFailedWhileOldUiRuns, 1, 1, 0},
        // Over time: each poll looks again; only the old UI's end is remembered.
        WaitCase{"OldUiEndsAfterCompletion", 12300, {{0, kCompletion}}, E::kLaunch, 0, 26, 12500},
        WaitCase{"CompletionArrivesAfterOldUiEnded", 3000, {{12500, kCompletion}}, E::kLaunch, 0,
                 26, 12500},
        WaitCase{"FailureArrivesWhileOldUiRuns", kNever, {{7000, kFailure}},
                 E::kFailedWhileOldUiRuns, 1, 15, 7000},
        WaitCase{"CompletionOverwrittenBeforeOldUiEnds", 10000,
                 {{0, kCompletion}, {5000, L"upd-0002|completed"}}, E::kGiveUpAtLimit, 1, 3600,
                 kLimitMs},
        // The 3600th poll is at 1799.5 s; the pause after it is the last thing done.
        WaitCase{"CompletionAtTheLastPoll", 0, {{kLimitMs - 500, kCompletion}}, E::kLaunch, 0,
                 3600, kLimitMs - 500},
        WaitCase{"CompletionJustAfterTheLastPoll", 0, {{kLimitMs - 499, kCompletion}},
                 E::kGiveUpAtLimit, 1, 3600, kLimitMs}),
    [](const ::testing::TestParamInfo<WaitCase>& info) { return info.param.name; });

TEST_F(RelaunchWatcherTest, EmptyTokenMatchesBareBarRecords) {
  SetRecord(L"|completed");
  EXPECT_EQ(Run(OldUi(0), L""), 0);
  EXPECT_EQ(LaunchCount(), 1u);
}

TEST_F(RelaunchWatcherTest, FailedWaitCountsAsOldUiStillRunning) {
  SetRecord(kCompletion);
  const std::wstring old_ui = OldUi(/*ends_at_ms=*/200);
  // The poll at 500 ms would see it ended; its wait fails instead.
  winsim::FailCall("WaitForSingleObject", 2, ERROR_ACCESS_DENIED);

  EXPECT_EQ(Run(old_ui), 0);

  ASSERT_EQ(LaunchCount(), 1u);
  EXPECT_EQ(winsim::Launches()[0].at_ms, 1000u);
}

// ---- The old UI's id ------------------------------------------------------

// Texts that name no process the watcher may wait on: it counts the old UI
// as ended and launches at the first poll that finds the outcome.
struct IdTextCase {
  const wchar_t* text;
  DWORD opened_id;
};

void PrintTo(const IdTextCase& row, std::ostream* out) {
  *out << ::testing::PrintToString(std::wstring(row.text));
}

class UnwatchableOldUiTest : public RelaunchWatcherTest,
                             public ::testing::WithParamInterface<IdTextCase> {};

TEST_P(UnwatchableOldUiTest, CountsAsEndedFromTheFirstPoll) {
  SetRecord(kCompletion);

  EXPECT_EQ(Run(GetParam().text), 0);

  const std::vector<winsim::Call> opens = winsim::CallsTo("OpenProcess");
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].detail.rfind(L"pid=" + std::to_wstring(GetParam().opened_id) + L" ", 0), 0u)
      << opens[0].detail.c_str();
  EXPECT_EQ(LaunchCount(), 1u);
  EXPECT_EQ(Polls(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Texts, UnwatchableOldUiTest,
                         ::testing::Values(IdTextCase{L"", 0}, IdTextCase{L"abc", 0},
                                           IdTextCase{L"0", 0}, IdTextCase{L"  +917", 917},
                                           IdTextCase{L"917;", 917},
                                           IdTextCase{L"-1", 4294967295u},
                                           IdTextCase{L"99999999999", 4294967295u}));

TEST_F(RelaunchWatcherTest, OldUiThatRefusesToBeOpenedCountsAsEnded) {
  SetRecord(kCompletion);
  winsim::ProcessSpec guarded;
  guarded.exe_name = L"Corvanta Remote.exe";
  guarded.open_error = ERROR_ACCESS_DENIED;
  const DWORD pid = winsim::AddProcess(guarded);

  EXPECT_EQ(Run(L" " + std::to_wstring(pid) + L"x"), 0);

  EXPECT_TRUE(winsim::IsRunning(pid));
  EXPECT_EQ(winsim::Launches().at(0).at_ms, 0u);
}

TEST_F(RelaunchWatcherTest, WithoutProgramFilesLogsOnlyTheFirstLineAndTouchesNothing) {
  winsim::UnsetEnvironment(L"ProgramFiles");
  SetRecord(kCompletion);

  EXPECT_EQ(Run(OldUi(kNever)), 1);

  EXPECT_EQ(Log(), kWaitingLine);
  EXPECT_EQ(winsim::UseCount("OpenProcess"), 0u);
  EXPECT_EQ(winsim::UseCount("CreateProcessW"), 0u);
  EXPECT_EQ(Polls(), 0u);
  EXPECT_EQ(winsim::NowMs(), 0u);
}

// ---- Launching ------------------------------------------------------------

TEST_F(RelaunchWatcherTest, StartsTheProductFromItsFolderWithQuotedPathAndNormalWindow) {
  SetRecord(kCompletion);

  EXPECT_EQ(Run(OldUi(0)), 0);

  ASSERT_EQ(LaunchCount(), 1u);
  const winsim::Launch& launch = winsim::Launches()[0];
  EXPECT_EQ(launch.application, kInstalledProduct);
  EXPECT_EQ(launch.command_line, L"\"" + std::wstring(kInstalledProduct) + L"\"");
  EXPECT_EQ(launch.current_directory, L"C:\\Program Files\\Corvanta Remote");
  EXPECT_EQ(launch.creation_flags, 0u);
  EXPECT_EQ(launch.inherit_handles, FALSE);
  EXPECT_TRUE(launch.environment_null);
  EXPECT_TRUE(launch.security_attributes_null);

  const STARTUPINFOW& startup = launch.startup_info;
  EXPECT_EQ(startup.cb, 104u);
  EXPECT_EQ(startup.dwFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
  EXPECT_EQ(startup.wShowWindow, SW_SHOWNORMAL);
  // Everything else stays zero.
  EXPECT_TRUE(startup.lpReserved == nullptr && startup.lpDesktop == nullptr &&
              startup.lpTitle == nullptr && startup.lpReserved2 == nullptr &&
              startup.hStdInput == nullptr && startup.hStdOutput == nullptr &&
              startup.hStdError == nullptr);
  EXPECT_EQ(startup.dwX + startup.dwY + startup.dwXSize + startup.dwYSize +
                startup.dwXCountChars + startup.dwYCountChars + startup.dwFillAttribute +
                startup.cbReserved2,
            0u);
}

struct FolderCase {
  const wchar_t* program_files;
  const wchar_t* folder;
};

void PrintTo(const FolderCase& row, std::ostream* out) {
  *out << ::testing::PrintToString(std::wstring(row.program_files));
}

class ProductFolderTest : public RelaunchWatcherTest,
                          public ::testing::WithParamInterface<FolderCase> {};

TEST_P(ProductFolderTest, IsThePathUpToItsLastSeparator) {
  winsim::SetEnvironment(L"ProgramFiles", GetParam().program_files);
  SetRecord(kCompletion);

  EXPECT_EQ(Run(OldUi(0)), 0);

  ASSERT_EQ(LaunchCount(), 1u);
  EXPECT_EQ(winsim::Launches()[0].current_directory, GetParam().folder);
}

INSTANTIATE_TEST_SUITE_P(
    ProgramFilesValues, ProductFolderTest,
    ::testing::Values(FolderCase{L"C:\\Program Files", L"C:\\Program Files\\Corvanta Remote"},
                      FolderCase{L"C:\\Program Files\\", L"C:\\Program Files\\\\Corvanta Remote"},
                      FolderCase{L"D:/Apps", L"D:/Apps\\Corvanta Remote"},
                      FolderCase{L"Apps", L"Apps\\Corvanta Remote"}));

// ---- Launch attempts: one log line each, retried up to 20 times ----------

winsim::LaunchScript Runs(std::optional<uint64_t> idle_after_ms = 0) {
  winsim::LaunchScript script;
  script.idle_after_ms = idle_after_ms;
  return script;
}
winsim::LaunchScript ExitsAfter(uint64_t ms, DWORD code) {
  winsim::LaunchScript script = Runs(/*idle_after_ms=*/std::nullopt);
  script.exit_after_ms = ms;
  script.exit_code = code;
  return script;
}
winsim::LaunchScript CannotStart(DWORD error) {
  winsim::LaunchScript script;
  script.create_error = error;
  return script;
}

struct AttemptCase {
  const char* name;
  std::vector<winsim::LaunchScript> scripts;  // the last one repeats
  const char* failing_call;                   // fails on every use, or null
  // The lines after the first; "#" stands for that attempt's process id.
  std::vector<std::string> lines;
  int exit_code;
  uint64_t ends_at_ms;
};

void PrintTo(const AttemptCase& row, std::ostream* out) { *out << row.name; }

class LaunchAttemptTest : public RelaunchWatcherTest,
                          public ::testing::WithParamInterface<AttemptCase> {};

TEST_P(LaunchAttemptTest, LogsEachAttemptAndRetriesAfterASecond) {
  const AttemptCase& row = GetParam();
  winsim::ScriptLaunches(kInstalledProduct, row.scripts);
  if (row.failing_call != nullptr) winsim::FailCall(row.failing_call, 0, ERROR_ACCESS_DENIED);
  SetRecord(kCompletion);

  EXPECT_EQ(Run(OldUi(0)), row.exit_code);

  ASSERT_EQ(LaunchCount(), row.lines.size());
  std::string expected = kWaitingLine;
  for (size_t i = 0; i < row.lines.size(); ++i) {
    std::string line = row.lines[i];
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.replace(hash, 1, std::to_string(LaunchedPid(i)));
    expected += line + "\r\n";
  }
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(winsim::NowMs(), row.ends_at_ms);
}

std::vector<std::string> Times20(const std::string& line) {
  return std::vector<std::string>(20, line);
}

INSTANTIATE_TEST_SUITE_P(
    Attempts, LaunchAttemptTest,
    ::testing::Values(
        AttemptCase{"IdleAtOnce", {Runs()}, nullptr, {"Launch PID=# exit=259"}, 0, 0},
        AttemptCase{"StillRunningAfterTheFullIdleWait", {Runs(std::nullopt)}, nullptr,
                    {"Launch PID=# exit=259"}, 0, 10000},
        AttemptCase{"IdleWaitFailsButProcessRuns", {Runs()}, "WaitForInputIdle",
                    {"Launch PID=# exit=259"}, 0, 0},
        AttemptCase{"ExitsWithZeroDuringIdleWait", {ExitsAfter(300, 0)}, nullptr,
                    {"Launch PID=# exit=0"}, 0, 300},
        AttemptCase{"ExitsWithThreeThenRuns", {ExitsAfter(300, 3), Runs()}, nullptr,
                    {"Launch PID=# exit=3", "Launch PID=# exit=259"}, 0, 1300},
        AttemptCase{"CrashCodeIsWrittenUnsigned", {ExitsAfter(0, 0xC0000005u), Runs()}, nullptr,
                    {"Launch PID=# exit=3221225477", "Launch PID=# exit=259"}, 0, 1000},
        AttemptCase{"CannotStartThenExitsThenRuns",
                    {CannotStart(ERROR_ACCESS_DENIED), ExitsAfter(0, 3), Runs()}, nullptr,
                    {"CreateProcess failed: 5", "Launch PID=# exit=3", "Launch PID=# exit=259"},
                    0, 2000},
        AttemptCase{"ExitsWithThreeEveryTime", {ExitsAfter(300, 3)}, nullptr,
                    Times20("Launch PID=# exit=3"), 1, 20 * 1300},
        AttemptCase{"CannotStartEveryTime", {CannotStart(ERROR_FILE_NOT_FOUND)}, nullptr,
                    Times20("CreateProcess failed: 2"), 1, 20 * 1000},
        AttemptCase{"ExitCodeNeverReadable", {Runs()}, "GetExitCodeProcess",
                    Times20("Launch PID=# exit=259"), 1, 20 * 1000}),
    [](const ::testing::TestParamInfo<AttemptCase>& info) { return info.param.name; });

}  // namespace
