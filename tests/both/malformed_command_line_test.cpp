// Command lines that name no mode, after the program's own quoted path. On the
// host the dispatcher meets them in the simulation; under Wine the built
// RemoteUpdater.exe is started with them. Either way no mode runs: nothing is
// published, installed, launched or logged, and the program ends with 1.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/registry_access.h"
#if defined(_WIN32)
#include "support/wine_helpers.h"
#endif

namespace {

class MalformedCommandLineTest : public WorldTest,
                                 public ::testing::WithParamInterface<std::wstring> {};

TEST_P(MalformedCommandLineTest, RunsNoModeAndLeavesNothingBehind) {
#if defined(_WIN32)
  const std::wstring updater = CopyInto(UpdaterExecutable(), MakeScratchFolder(L"malformed"));
  ASSERT_FALSE(updater.empty()) << "RemoteUpdater.exe not found; REMOTEUPDATER_EXE must name it";

  EXPECT_EQ(RunToExit(updater, GetParam()), std::optional<DWORD>(1));
  EXPECT_FALSE(FileExistsAt(updater + updater_contract::kLogSuffix));
#else
  const std::wstring command_line = L"\"" + kUpdaterPath + L"\"" + GetParam();
  const UpdaterRun run = RunUpdater({}, command_line, Mode::kNone, L"");
  // The rules hold that no mode ran, so that the entry point ends with 1, and
  // that nothing but the split happened.
  for (const std::string& rule : BrokenRules(run)) ADD_FAILURE() << rule;
#endif
  EXPECT_FALSE(StatusKeyExists());
}

const std::wstring kInstall = std::wstring(L" ") + updater_contract::kInstallSwitch;
const std::wstring kRelaunch = std::wstring(L" ") + updater_contract::kRelaunchSwitch;

INSTANTIATE_TEST_SUITE_P(
    Shapes, MalformedCommandLineTest,
    ::testing::Values(L"", kInstall + L" C:\\u.msi", kInstall + L" C:\\u.msi tok extra",
                      kRelaunch + L" 42", kRelaunch + L" 42 tok extra",
                      Upper(kRelaunch) + L" 42 tok",
                      Upper(kInstall.substr(0, 4)) + kInstall.substr(4) + L" C:\\u.msi tok",
                      kRelaunch + L"=42 x tok", L" \"" + kRelaunch.substr(1) + L" \" 42 tok",
                      L" " + kRelaunch.substr(2) + L" 42 tok", L" 42" + kRelaunch + L" tok",
                      L" C:\\u.msi tok" + kInstall,
                      kRelaunch.substr(0, kRelaunch.size() - 1) + L" 42 tok",
                      kInstall + L"X C:\\u.msi tok", kRelaunch + L"X 42 tok"));

}  // namespace
