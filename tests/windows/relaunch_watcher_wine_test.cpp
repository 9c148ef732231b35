// RemoteUpdater.exe as the relaunch watcher under Wine: it waits for a real
// old UI process and a record in the real registry, then starts the sample
// product's UI program from the Program Files folder of the suite's prefix.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "shared/unique_handles.h"
#include "shared/update_status.h"
#include "support/sample_product.h"
#include "support/world_test.h"

namespace {

constexpr wchar_t kToken[] = L"upd-wine-1";
constexpr wchar_t kSampleKey[] = L"SOFTWARE\\Corvanta\\SampleUI";
const std::string kWaitingLine = "Waiting for update completion and old UI exit\r\n";

void EndProcessById(DWORD pid) {
  const UniqueHandle process =
      OwnHandle(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  if (!process) return;
  ::TerminateProcess(process.get(), 0);
  ::WaitForSingleObject(process.get(), 10000);
}

class RelaunchWatcherOnWine : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSampleKey);
    const std::wstring folder = MakeScratchFolder(L"relaunch");
    updater_ = CopyInto(UpdaterExecutable(), folder);
    ASSERT_FALSE(updater_.empty()) << "REMOTEUPDATER_EXE must name RemoteUpdater.exe";
    // Wine gives every new process the ProgramFiles of its registry, not
    // the one it inherits, so the product goes where that points: the
    // Program Files folder of this suite's own prefix.
    product_folder_ = InstalledFolder();
    ASSERT_FALSE(product_folder_.empty()) << "ProgramFiles is unset";
    ::CreateDirectoryW(product_folder_.c_str(), nullptr);
    product_ = CopyInto(SampleFolder() + L"\\v2\\Corvanta Remote.exe", product_folder_);
    ASSERT_FALSE(product_.empty()) << "CORVANTA_SAMPLE_DIR must name the sample build";
    trace_ = folder + L"\\launches.txt";
  }

  void TearDown() override {
    for (DWORD pid : LaunchedIds(Log())) EndProcessById(pid);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSampleKey);
    WorldTest::TearDown();
  }

  // The old UI the watcher waits for: the sample UI run from its build
  // folder, pumping messages.
  ProcessHandles StartOldUi() {
    ProcessHandles old_ui = StartWithArguments(SampleFolder() + L"\\v1\\Corvanta Remote.exe");
    if (old_ui.process) ::WaitForInputIdle(old_ui.process.get(), 10000);
    return old_ui;
  }

  // Starts the watcher with the sample's launch trace switched on; the
  // setting reaches it through the environment it inherits, and from it the
  // programs it starts.
  ProcessHandles StartWatcher(const std::wstring& process_id_text) {
    ::SetEnvironmentVariableW(L"CORVANTA_SAMPLE_TRACE", trace_.c_str());
    ProcessHandles watcher =
        StartWithArguments(updater_, L" --edk-remote-relaunch " + process_id_text + L" " + kToken);
    ::SetEnvironmentVariableW(L"CORVANTA_SAMPLE_TRACE", nullptr);
    return watcher;
  }

  std::string Log() const { return ReadWholeFile(updater_ + L".log"); }

  // The sample's trace line for a start of the product as the watcher
  // starts it: from its folder, with its quoted path as the command line.
  std::string ProductTraceLine(DWORD pid) const {
    return std::to_string(pid) + "|2.0.0|" + Narrow(product_) + "|" + Narrow(product_folder_) +
           "|\"" + Narrow(product_) + "\"\n";
  }

  std::wstring updater_;
  std::wstring product_folder_;
  std::wstring product_;
  std::wstring trace_;
};

TEST_F(RelaunchWatcherOnWine, WaitsForOldUiAndRecordThenStartsTheProduct) {
  const ProcessHandles old_ui = StartOldUi();
  ASSERT_TRUE(old_ui.process);
  const ProcessHandles watcher = StartWatcher(std::to_wstring(::GetProcessId(old_ui.process.get())));
  ASSERT_TRUE(watcher.process);

  WriteUpdateStatus(kToken, L"completed");
  // The outcome alone is not enough while the old UI still runs.
  EXPECT_FALSE(ExitCodeWithin(watcher.process.get(), 1500).has_value());
  ::TerminateProcess(old_ui.process.get(), 0);

  EXPECT_EQ(ExitCodeWithin(watcher.process.get(), 60000), 0u);
  const std::vector<DWORD> launched = LaunchedIds(Log());
  ASSERT_EQ(launched.size(), 1u) << Log();
  EXPECT_EQ(Log(), kWaitingLine + "Launch PID=" + std::to_string(launched[0]) + " exit=259\r\n");
  EXPECT_EQ(ReadWholeFile(trace_), ProductTraceLine(launched[0]));
}

TEST_F(RelaunchWatcherOnWine, ProgramThatExitsWithThreeIsStartedAgain) {
  // The sample's first start ends at once with code 3, the next one runs.
  WriteSampleDword(L"SampleUI", L"FailLaunches", 1);
  WriteSampleDword(L"SampleUI", L"FailExitCode", 3);
  WriteUpdateStatus(kToken, L"completed");

  const ProcessHandles watcher = StartWatcher(L"0");
  ASSERT_TRUE(watcher.process);

  EXPECT_EQ(ExitCodeWithin(watcher.process.get(), 60000), 0u);
  const std::vector<DWORD> launched = LaunchedIds(Log());
  ASSERT_EQ(launched.size(), 2u) << Log();
  EXPECT_EQ(Log(), kWaitingLine + "Launch PID=" + std::to_string(launched[0]) + " exit=3\r\n" +
                       "Launch PID=" + std::to_string(launched[1]) + " exit=259\r\n");
  EXPECT_EQ(ReadWholeFile(trace_), ProductTraceLine(launched[0]) + ProductTraceLine(launched[1]));
}

TEST_F(RelaunchWatcherOnWine, FailureWhileOldUiRunsEndsWithoutLaunching) {
  const ProcessHandles old_ui = StartOldUi();
  ASSERT_TRUE(old_ui.process);
  WriteUpdateStatus(kToken, L"failed:MSI exit 1603; log: C:\\u.msi.log");

  const ProcessHandles watcher = StartWatcher(std::to_wstring(::GetProcessId(old_ui.process.get())));
  ASSERT_TRUE(watcher.process);

  const std::optional<DWORD> exit_code = ExitCodeWithin(watcher.process.get(), 60000);
  ::TerminateProcess(old_ui.process.get(), 0);

  EXPECT_EQ(exit_code, 1u);
  EXPECT_EQ(Log(), kWaitingLine + "Update failed before old UI exited\r\n" +
                       "Relaunch watcher ended without launching the application\r\n");
  EXPECT_EQ(ReadWholeFile(trace_), "");
}

}  // namespace
