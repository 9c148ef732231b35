// RemoteUpdater.exe as the relaunch watcher under Wine, where a whole update does not take it:
// the product's first start ends at once with code 3, a real process exit that the watcher
// meets with a second start. The watcher's waits and the product's start as a whole update
// makes it are run end to end (tests/e2e).
#include <windows.h>

#include <string>
#include <vector>

#include "shared/unique_handles.h"
#include "shared/update_status.h"
#include "support/sample_product.h"
#include "support/world_test.h"

namespace {

constexpr wchar_t kToken[] = L"upd-wine-1";

class RelaunchWatcherOnWine : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUiKey);
    folder_ = MakeScratchFolder(L"relaunch");
    updater_ = CopyInto(UpdaterExecutable(), folder_);
    ASSERT_FALSE(updater_.empty()) << "REMOTEUPDATER_EXE must name RemoteUpdater.exe";
    // Wine gives every new process the ProgramFiles of its registry, not the one it inherits,
    // so the product goes where that points: the Program Files folder of this suite's prefix.
    product_ = InstallSampleProgram(SampleFolder() + L"\\v2\\Corvanta Remote.exe");
    ASSERT_FALSE(product_.empty()) << "CORVANTA_SAMPLE_DIR must name the sample build";
  }

  void TearDown() override {
    for (DWORD pid : LaunchedIds(Log())) {
      const UniqueHandle process =
          OwnHandle(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
      if (process) ::TerminateProcess(process.get(), 0);
    }
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUiKey);
    WorldTest::TearDown();
  }

  std::string Log() const { return ReadWholeFile(updater_ + updater_contract::kLogSuffix); }

  // The sample's trace line for a start of the product as the watcher starts it: from its
  // folder, with its quoted path as the command line.
  std::string ProductTraceLine(DWORD pid) const {
    return std::to_string(pid) + "|2.0.0|" + Narrow(product_) + "|" + Narrow(FolderOf(product_)) +
           "|\"" + Narrow(product_) + "\"\n";
  }

  std::wstring folder_;
  std::wstring updater_;
  std::wstring product_;
};

TEST_F(RelaunchWatcherOnWine, ProgramThatExitsWithThreeIsStartedAgain) {
  // The sample's first start ends at once with code 3, the next one runs.
  sample::fixture::WriteDword(kUiKey, L"FailLaunches", 1);
  sample::fixture::WriteDword(kUiKey, L"FailExitCode", 3);
  WriteUpdateStatus(kToken, updater_contract::kCompletedOutcome);
  // The trace setting reaches the watcher through the environment it inherits, and from it
  // the programs it starts.
  const std::wstring trace = folder_ + L"\\launches.txt";
  ::SetEnvironmentVariableW(L"CORVANTA_SAMPLE_TRACE", trace.c_str());
  const ProcessHandles watcher = StartWithArguments(
      updater_, std::wstring(L" ") + updater_contract::kRelaunchSwitch + L" 0 " + kToken);
  ::SetEnvironmentVariableW(L"CORVANTA_SAMPLE_TRACE", nullptr);
  ASSERT_TRUE(watcher.process);

  EXPECT_EQ(ExitCodeWithin(watcher.process.get(), 60000), 0u);
  const std::vector<DWORD> launched = LaunchedIds(Log());
  ASSERT_EQ(launched.size(), 2u) << Log();
  EXPECT_EQ(Log(), WatcherLine(updater_contract::kWatcherWaiting) + LaunchLine(launched[0], 3) +
                       LaunchLine(launched[1], 259));
  EXPECT_EQ(ReadWholeFile(trace), ProductTraceLine(launched[0]) + ProductTraceLine(launched[1]));
}

}  // namespace
