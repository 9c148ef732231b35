// Stopping and restarting the product's service through Wine's real Service Control Manager,
// where it answers otherwise than in a whole update: a service already stopped, one whose stop
// and host take seconds, one that is not installed. A prompt service's stop and start, and one
// that ignores the stop, are run end to end (tests/e2e). Each suite runs in a Wine prefix of its
// own.
#include "install/remote_service.h"

#include "contract/status_record.h"
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

}  // namespace
