// Command lines as the updater may be started with them: how the shell's rules split them,
// and what the dispatcher does with them. Both tiers split each line (the simulation and
// Wine's shell32). On the host the dispatcher then meets each line in the simulation; under
// Wine the built RemoteUpdater.exe is started with the lines that name no mode (the others
// would stop the machine's service). A line that cannot be split at all is among the failure
// sweep's faults.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "support/registry_access.h"
#if defined(_WIN32)
#include "support/wine_helpers.h"
#endif

namespace {

enum class Runs { kNoMode, kInstaller, kWatcher };

struct CommandLineCase {
  const char* name;
  std::wstring arguments;              // after the program's path
  std::vector<std::wstring> elements;  // after the program's path
  Runs runs = Runs::kNoMode;
  std::wstring program = L"\"C:\\Program Files\\Corvanta Remote\\RemoteUpdater.exe\"";
};

std::vector<std::wstring> Split(const std::wstring& command_line) {
  int count = 0;
  const UniqueLocal<LPWSTR> elements(::CommandLineToArgvW(command_line.c_str(), &count));
  std::vector<std::wstring> result;
  for (int i = 0; elements && i < count; ++i) result.emplace_back(elements.get()[i]);
  return result;
}

class CommandLineTest : public WorldTest, public ::testing::WithParamInterface<CommandLineCase> {
 protected:
#if defined(_WIN32)
  // The built program ends with 1 and writes nothing.
  void ExpectNoModeRuns() {
    const std::wstring updater = CopyInto(UpdaterExecutable(), MakeScratchFolder(L"malformed"));
    ASSERT_FALSE(updater.empty()) << "RemoteUpdater.exe not found; REMOTEUPDATER_EXE must name it";
    EXPECT_EQ(RunToExit(updater, GetParam().arguments), std::optional<DWORD>(1));
    EXPECT_FALSE(FileExistsAt(updater + updater_contract::kLogSuffix));
    EXPECT_FALSE(StatusKeyExists());
  }
#else
  // Runs the dispatcher on the line, on `machine`; the rules of every run must hold.
  int Dispatch(const Machine& machine, Mode mode, const std::wstring& token) {
    const UpdaterRun run =
        RunUpdater(machine, GetParam().program + GetParam().arguments, mode, token);
    for (const std::string& rule : BrokenRules(run)) ADD_FAILURE() << rule;
    return run.exit_code;
  }

  // Nothing happens but the split, and the entry point ends with 1.
  void ExpectNoModeRuns() {
    EXPECT_EQ(Dispatch({}, Mode::kNone, L""), UpdaterRun::kUntouchedExitCode);
    EXPECT_FALSE(StatusKeyExists());
  }

  // Installer mode installs element 2 as it came, by msiexec with the package and a log
  // beside it each quoted whole and no window, publishes for element 3, and deletes it.
  void ExpectInstallerRuns(const std::wstring& msi, const std::wstring& token) {
    EXPECT_EQ(Dispatch({.package = msi}, Mode::kInstall, token), 0);
    ASSERT_EQ(winsim::Launches().size(), 1u);
    const winsim::Launch& launch = winsim::Launches()[0];
    EXPECT_EQ(launch.application, L"C:\\Windows\\system32\\msiexec.exe");
    EXPECT_EQ(launch.command_line,
              L"\"C:\\Windows\\system32\\msiexec.exe\" /i \"" + msi +
                  L"\" /qn REINSTALLMODE=amus LAUNCH_TRAY_APP=N REBOOT=ReallySuppress /norestart "
                  L"/L*V \"" +
                  msi + L".log\"");
    EXPECT_TRUE(launch.windowless);
    EXPECT_EQ(PublishedRecord(), token + L"|completed");
    EXPECT_FALSE(winsim::FileExists(msi));
  }

  // The watcher waits for the process element 2 names, which ends at 1 s, and the record of
  // element 3's update, then starts the product.
  void ExpectWatcherRuns(const std::wstring& token) {
    const Machine machine{.old_ui_exits_at_ms = 1000, .record = {{0, token + L"|completed"}}};
    EXPECT_EQ(Dispatch(machine, Mode::kRelaunch, token), 0);
    ASSERT_EQ(winsim::Launches().size(), 1u);
    EXPECT_EQ(winsim::Launches()[0].at_ms, 1000u);
    EXPECT_EQ(WatcherLog(), "Waiting for update completion and old UI exit\r\nLaunch PID=" +
                                std::to_string(winsim::Launches()[0].pid) + " exit=259\r\n");
  }
#endif
};

TEST_P(CommandLineTest, SplitsLikeTheShellAndRunsTheModeItNames) {
  const CommandLineCase& line = GetParam();
  std::vector<std::wstring> expected = {line.program};
  expected[0].erase(std::remove(expected[0].begin(), expected[0].end(), L'"'), expected[0].end());
  expected.insert(expected.end(), line.elements.begin(), line.elements.end());
  EXPECT_EQ(Split(line.program + line.arguments), expected);
  if (line.runs == Runs::kNoMode) return ExpectNoModeRuns();
#if !defined(_WIN32)
  if (line.runs == Runs::kInstaller) return ExpectInstallerRuns(line.elements[1], line.elements[2]);
  ExpectWatcherRuns(line.elements[2]);
#endif
}

const std::wstring kInstall = L"--edk-remote-install-msi";
const std::wstring kRelaunch = L"--edk-remote-relaunch";

// clang-format off
const CommandLineCase kLines[] = {
    // Lines that reach a mode, each element as the splitting left it.
    {"QuotedPackagePathArrivesWhole",
     L" --edk-remote-install-msi \"C:\\My Files\\Update 2.0.msi\" tok",
     {kInstall, L"C:\\My Files\\Update 2.0.msi", L"tok"}, Runs::kInstaller},
    {"EmptyPackagePathAndToken", L" --edk-remote-install-msi \"\" \"\"", {kInstall, L"", L""},
     Runs::kInstaller},
    {"ProcessIdAndToken", L" --edk-remote-relaunch 4242 tok", {kRelaunch, L"4242", L"tok"},
     Runs::kWatcher},
    // Lines that name no mode.
    {"NoArguments", L"", {}, Runs::kNoMode, L"prog.exe"},
    {"TwoArguments", L" a b", {L"a", L"b"}},
    {"TabsAndRunsOfSpaces", L"  \t a   b  ", {L"a", L"b"}},
    {"BackslashesOutsideQuotes", L" a\\\\b \\\"c", {L"a\\\\b", L"\"c"}, Runs::kNoMode, L"u.exe"},
    {"EscapedBackslashBeforeQuote", L" \"a\\\\\" b", {L"a\\", L"b"}},
    {"EscapedQuoteInsideQuotes", L" \"a\\\"b\"", {L"a\"b"}},
    {"QuotesInsideAWord", L" a\"b c\"d", {L"ab cd"}},
    {"DoubledQuoteInsideQuotes", L" \"a\"\"b\"", {L"a\"b"}},
    {"ArgumentsRightAfterTheQuotedProgram", L"x y", {L"x", L"y"}},
    {"InstallerWithoutToken", L" --edk-remote-install-msi C:\\u.msi", {kInstall, L"C:\\u.msi"}},
    {"InstallerWithAFifthElement", L" --edk-remote-install-msi C:\\u.msi tok extra",
     {kInstall, L"C:\\u.msi", L"tok", L"extra"}},
    {"WatcherWithoutToken", L" --edk-remote-relaunch 42", {kRelaunch, L"42"}},
    {"WatcherWithAFifthElement", L" --edk-remote-relaunch 42 tok extra",
     {kRelaunch, L"42", L"tok", L"extra"}},
    {"SwitchInCapitals", L" --EDK-REMOTE-RELAUNCH 42 tok",
     {L"--EDK-REMOTE-RELAUNCH", L"42", L"tok"}},
    {"SwitchWithOneCapital", L" --Edk-remote-install-msi C:\\u.msi tok",
     {L"--Edk-remote-install-msi", L"C:\\u.msi", L"tok"}},
    {"SwitchWithAValue", L" --edk-remote-relaunch=42 x tok",
     {L"--edk-remote-relaunch=42", L"x", L"tok"}},
    {"SwitchWithATrailingSpaceInQuotes", L" \"--edk-remote-relaunch \" 42 tok",
     {L"--edk-remote-relaunch ", L"42", L"tok"}},
    {"SwitchWithOneDash", L" -edk-remote-relaunch 42 tok",
     {L"-edk-remote-relaunch", L"42", L"tok"}},
    {"SwitchSecond", L" 42 --edk-remote-relaunch tok", {L"42", kRelaunch, L"tok"}},
    {"SwitchLast", L" C:\\u.msi tok --edk-remote-install-msi", {L"C:\\u.msi", L"tok", kInstall}},
    {"SwitchCutShort", L" --edk-remote-relaunc 42 tok", {L"--edk-remote-relaunc", L"42", L"tok"}},
    {"InstallSwitchWithALetterAppended", L" --edk-remote-install-msiX C:\\u.msi tok",
     {kInstall + L"X", L"C:\\u.msi", L"tok"}},
    {"RelaunchSwitchWithALetterAppended", L" --edk-remote-relaunchX 42 tok",
     {kRelaunch + L"X", L"42", L"tok"}},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Lines, CommandLineTest, ::testing::ValuesIn(kLines), kRowName);

}  // namespace
