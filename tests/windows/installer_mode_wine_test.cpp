// Installer mode's two stops through Wine's real Win32: the product's service, and the
// product's running copies.
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
#include <string>
#include <vector>

#include "contract/status_record.h"
#include "install/remote_service.h"
#include "service/update_facts.h"
#include "service/update_preflight.h"
#include "shared/product_processes.h"
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

  std::wstring installed_;
  std::wstring elsewhere_;
};

TEST_F(ProductCopiesOnWine, NothingRunningIsNoFailure) {
  std::wstring reason;
  EXPECT_TRUE(StopProductProcesses(reason));
  EXPECT_EQ(reason, L"");
}

TEST_F(ProductCopiesOnWine, InstalledCopiesAreFoundAndEndInAnyLetterCaseAndOthersLive) {
  // Wine names every later copy of a running image as the first one was
  // started, so the copy in capitals goes first.
  const UniqueHandle shouting = StartProgram(Upper(installed_));
  const UniqueHandle installed = StartProgram(installed_);
  const UniqueHandle other = StartProgram(elsewhere_);
  ASSERT_TRUE(installed && shouting && other);
  ASSERT_TRUE(IsStillRunning(installed.get()) && IsStillRunning(shouting.get()) &&
              IsStillRunning(other.get()));
  ULONG session = 0;
  ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
  const road::UpdateFacts facts = road::GatherUpdateFacts(session, elsewhere_);
  EXPECT_TRUE(facts.ui_copies_known);
  EXPECT_EQ(facts.ui_copy_sessions, (std::vector<ULONG>{session, session}));
  EXPECT_TRUE(road::DecideWhetherUpdateMayRun(facts).allowed);

  std::wstring reason;
  EXPECT_TRUE(StopProductProcesses(reason));
  EXPECT_EQ(reason, L"");

  for (HANDLE ended : {installed.get(), shouting.get()}) EXPECT_EQ(ExitCodeWithin(ended, 0), 0u);
  EXPECT_TRUE(IsStillRunning(other.get()));
  ::TerminateProcess(other.get(), 1);
  ::WaitForSingleObject(other.get(), 5000);
}

}  // namespace
