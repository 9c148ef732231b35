// Stopping and restarting the product's service through Wine's real Service
// Control Manager, with the sample service in the roles the product's own
// service may play. Each suite runs in a Wine prefix of its own.
#include "install/remote_service.h"

#include "support/sample_product.h"
#include "support/world_test.h"

namespace {

class ServiceOnWine : public WorldTest {
 protected:
  void TearDown() override {
    RemoveRemoteService();
    WorldTest::TearDown();
  }
};

class PromptServiceOnWine : public ServiceOnWine {};

TEST_F(PromptServiceOnWine, IsStoppedWithItsHostAndStartedAgain) {
  InstallAndStartRemoteService(L"");
  const DWORD host = road::ServiceStatus().dwProcessId;
  ASSERT_NE(host, 0u);

  EXPECT_TRUE(StopRemoteService());
  EXPECT_EQ(road::ServiceStatus().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(ProcessHasEnded(host));

  EXPECT_TRUE(RestartRemoteServiceAndPublish(L"tok-prompt", L"completed"));
  EXPECT_EQ(road::ServiceStatus().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(PublishedRecordText(), L"tok-prompt|completed");
  EXPECT_EQ(SampleServiceCounter(L"Starts"), 2u);
  EXPECT_EQ(SampleServiceCounter(L"Stops"), 1u);
}

TEST_F(PromptServiceOnWine, AlreadyStoppedServiceIsStartedAllTheSame) {
  InstallAndStartRemoteService(L"");
  ASSERT_TRUE(StopRemoteService());

  EXPECT_TRUE(StopRemoteService());
  EXPECT_TRUE(RestartRemoteServiceAndPublish(L"tok-again", L"completed"));
  EXPECT_EQ(road::ServiceStatus().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

// The service spends three seconds stopping and its host lives on for two
// more: both are waited for.
class SlowServiceOnWine : public ServiceOnWine {};

TEST_F(SlowServiceOnWine, StopWaitsForTheServiceAndItsHost) {
  InstallAndStartRemoteService(L"--stop-delay-ms 3000 --linger-ms 2000");
  const DWORD host = road::ServiceStatus().dwProcessId;
  ASSERT_NE(host, 0u);

  EXPECT_TRUE(StopRemoteService());
  EXPECT_EQ(road::ServiceStatus().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(SampleServiceCounter(L"Stops"), 1u);
  EXPECT_TRUE(ProcessHasEnded(host));
}

// A service that accepts the stop control and keeps running: the stop gives
// up after its 300 polls, and the restart finds it running.
class StubbornServiceOnWine : public ServiceOnWine {};

// Runs long: the stop is given its 30 s.
TEST_F(StubbornServiceOnWine, StopGivesUpAndRestartPublishesTheOutcomeUnchanged) {
  InstallAndStartRemoteService(L"--ignore-stop");

  EXPECT_FALSE(StopRemoteService());
  EXPECT_EQ(road::ServiceStatus().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

  EXPECT_TRUE(RestartRemoteServiceAndPublish(L"tok-stubborn",
                                             L"failed:Service did not exit before installation"));
  EXPECT_EQ(PublishedRecordText(), L"tok-stubborn|failed:Service did not exit before installation");
  EXPECT_EQ(SampleServiceCounter(L"Starts"), 1u);
}

class MissingServiceOnWine : public ServiceOnWine {};

TEST_F(MissingServiceOnWine, NeitherStopsNorRestartsAndPublishesThePrefixedText) {
  EXPECT_FALSE(StopRemoteService());

  EXPECT_FALSE(RestartRemoteServiceAndPublish(L"tok-missing",
                                              L"failed:Service did not exit before installation"));
  EXPECT_EQ(PublishedRecordText(), std::wstring(L"tok-missing|") + kRestartPrefix +
                                       L"failed:Service did not exit before installation");
}

}  // namespace
