// The updater's own steps through Wine's real Win32: installer mode's two stops, of the
// product's service and of its running copies, and the relaunch watcher's second start; and
// the address layout of every program a Wine program starts.
//
// Stopping and restarting the product's service through Wine's real Service Control Manager,
// where it answers otherwise than in a whole update: a service already stopped, one whose stop
// and host take seconds, one that is not installed. A prompt service's stop and start, and one
// that ignores the stop, are run end to end (tests/e2e). Each suite runs in a Wine prefix of its
// own.
//
// Ending the product's running copies under Wine, whose process list spells an image path in
// the letter case of its first start: copies of the sample product program started from the
// installed location are ended in any letter case, a copy started from another folder lives on
// (as in every whole update, tests/e2e). What the service finds before an update counts the
// same copies, each with its session; Wine runs every process in one session, so copies in
// other sessions are judged on data only (update_preflight_test.cpp).
//
// RemoteUpdater.exe as the relaunch watcher under Wine, where a whole update does not take it:
// the product's first start ends at once with code 3, a real process exit that the watcher
// meets with a second start. The watcher's waits and the product's start as a whole update
// makes it are run end to end (tests/e2e).
//
// Every program in a test prefix runs with the kernel's address randomization off
// (fixed_address_layout in scripts/lib/common.sh): with it on, now and then a Wine program's
// heap starts where Wine maps Windows' shared user data, and the program ends before it starts.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "contract/status_record.h"
#include "install/remote_service.h"
#include "service/update_facts.h"
#include "service/update_preflight.h"
#include "shared/product_processes.h"
#include "shared/unique_handles.h"
#include "shared/update_status.h"
#include "support/sample_product.h"
#include "support/world_test.h"

namespace {

using updater_contract::kCompletedOutcome;

class ServiceOnWine : public WorldTest {
 protected:
  void TearDown() override {
    RemoveRemoteService();
    WorldTest::TearDown();
  }
};

class PromptServiceOnWine : public ServiceOnWine {};

TEST_F(PromptServiceOnWine, AlreadyStoppedServiceIsStartedAllTheSame) {
  InstallAndStartRemoteService(L"");
  ASSERT_TRUE(StopRemoteService());

  EXPECT_TRUE(StopRemoteService());
  EXPECT_TRUE(RestartRemoteServiceAndPublish(L"tok-again", kCompletedOutcome));
  EXPECT_EQ(ServiceState(), DWORD{SERVICE_RUNNING});
  EXPECT_EQ(road::ReadStatusRecord(), L"tok-again|completed");
  EXPECT_EQ(ServiceCounter(L"Starts"), 2u);
}

// The service spends three seconds stopping and its host lives on for two more: both are
// waited for.
class SlowServiceOnWine : public ServiceOnWine {};

TEST_F(SlowServiceOnWine, StopWaitsForTheServiceAndItsHost) {
  InstallAndStartRemoteService(L"--stop-delay-ms 3000 --linger-ms 2000");
  const DWORD host = ServiceHost();
  ASSERT_NE(host, 0u);

  EXPECT_TRUE(StopRemoteService());
  EXPECT_EQ(ServiceState(), DWORD{SERVICE_STOPPED});
  EXPECT_EQ(ServiceCounter(L"Stops"), 1u);
  EXPECT_TRUE(ProcessHasEnded(host));
}

class MissingServiceOnWine : public ServiceOnWine {};

TEST_F(MissingServiceOnWine, NeitherStopsNorRestartsAndPublishesThePrefixedText) {
  EXPECT_FALSE(StopRemoteService());

  EXPECT_FALSE(RestartRemoteServiceAndPublish(L"tok-missing", kCompletedOutcome));
  EXPECT_EQ(road::ReadStatusRecord(),
            L"tok-missing|failed:Remote service could not restart; installation result: completed");
}

class ProductCopiesOnWine : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    ASSERT_TRUE(FileExistsAt(SampleProgram())) << "CORVANTA_SAMPLE_DIR must name the sample build";
    installed_ = InstallSampleProgram();
    elsewhere_ = CopyInto(SampleProgram(), MakeScratchFolder(L"elsewhere"));
    ASSERT_FALSE(installed_.empty() || elsewhere_.empty());
  }

  std::wstring installed_, elsewhere_;
};

// With nothing running, a stop is no failure.
TEST_F(ProductCopiesOnWine, InstalledCopiesAreFoundAndEndInAnyLetterCaseAndOthersLive) {
  std::wstring reason;
  EXPECT_TRUE(StopProductProcesses(reason));
  EXPECT_EQ(reason, L"");
  // Wine names every later copy of a running image as the first one was
  // started, so the copy in capitals goes first.
  const UniqueHandle shouting = StartProgram(Upper(installed_));
  const UniqueHandle installed = StartProgram(installed_);
  const UniqueHandle other = StartProgram(elsewhere_);
  for (HANDLE started : {installed.get(), shouting.get(), other.get()})
    ASSERT_TRUE(started != nullptr && IsStillRunning(started));
  ULONG session = 0;
  ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
  const road::UpdateFacts facts = road::GatherUpdateFacts(session, elsewhere_);
  EXPECT_TRUE(facts.ui_copies_known);
  EXPECT_EQ(facts.ui_copy_sessions, (std::vector<ULONG>{session, session}));
  EXPECT_TRUE(road::DecideWhetherUpdateMayRun(facts).allowed);

  reason.clear();
  EXPECT_TRUE(StopProductProcesses(reason));
  EXPECT_EQ(reason, L"");

  for (HANDLE ended : {installed.get(), shouting.get()}) EXPECT_EQ(ExitCodeWithin(ended, 0), 0u);
  EXPECT_TRUE(IsStillRunning(other.get()));
  ::TerminateProcess(other.get(), 1);
  ::WaitForSingleObject(other.get(), 5000);
}

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

  std::wstring folder_, updater_, product_;
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

// A program that a Wine program starts, as msiexec is started by the updater, reads its own
// Linux personality through drive Z:.
TEST(WineAddressLayout, ProgramsStartedUnderWineRunWithoutAddressRandomization) {
  const std::optional<std::string> personality = CommandOutput(L"type Z:\\proc\\self\\personality");

  ASSERT_TRUE(personality.has_value());
  const unsigned long kAddrNoRandomize = 0x0040000;
  EXPECT_NE(std::strtoul(personality->c_str(), nullptr, 16) & kAddrNoRandomize, 0u)
      << "personality: " << *personality;
}

}  // namespace
