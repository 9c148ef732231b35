// Stopping and restarting the product's service, against the simulated
// Service Control Manager, in virtual time.
#include "install/remote_service.h"

#include <ostream>
#include <string>
#include <tuple>

#include "support/world_test.h"

namespace {

constexpr wchar_t kService[] = L"Corvanta Remote";

using ServiceSetup = winsim::ServiceSpec;

// Adds the product's service in `state`, its behaviour changed by `change`.
void AddRemoteService(DWORD state, void (*change)(ServiceSetup&) = nullptr) {
  ServiceSetup setup;
  setup.name = kService;
  setup.state = state;
  if (change != nullptr) change(setup);
  winsim::AddService(setup);
}

// Replaces the service with a stopped one at `at_ms`, ending its host: a
// service that stops without being asked to.
void StopsByItselfAt(uint64_t at_ms) {
  winsim::At(at_ms, [] {
    winsim::EndProcess(winsim::ServiceHostPid(kService), 0);
    AddRemoteService(SERVICE_STOPPED);
  });
}

class RemoteServiceTest : public WorldTest {};

// ---- StopRemoteService ----------------------------------------------------

struct StopCase {
  const char* name;
  void (*arrange)();
  bool stopped;
  uint64_t elapsed_ms;
  unsigned stop_controls;
  unsigned status_polls;
};
void PrintTo(const StopCase& c, std::ostream* out) { *out << c.name; }

class StopRemoteServiceTest : public RemoteServiceTest,
                              public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopRemoteServiceTest, ReportsWhetherServiceAndHostAreGone) {
  GetParam().arrange();

  EXPECT_EQ(StopRemoteService(), GetParam().stopped);
  EXPECT_EQ(winsim::NowMs(), GetParam().elapsed_ms);
  EXPECT_EQ(winsim::CallsTo("ControlService").size(), GetParam().stop_controls);
  EXPECT_EQ(winsim::UseCount("QueryServiceStatusEx"), GetParam().status_polls);
  if (GetParam().stopped) EXPECT_EQ(winsim::ServiceState(kService), SERVICE_STOPPED);
}

INSTANTIATE_TEST_SUITE_P(
    Situations, StopRemoteServiceTest,
    ::testing::Values(
        StopCase{"RunningStopsAtOnce", [] { AddRemoteService(SERVICE_RUNNING); }, true, 0, 1, 1},
        StopCase{"StopTakesTwoAndAHalfSeconds",
                 [] { AddRemoteService(SERVICE_RUNNING, [](ServiceSetup& s) { s.stop_takes_ms = 2500; }); },
                 true, 2500, 1, 26},
        StopCase{"AlreadyStoppedGetsNoControl", [] { AddRemoteService(SERVICE_STOPPED); }, true,
                 0, 0, 1},
        StopCase{"StopPendingGetsNoControl",
                 [] {
                   AddRemoteService(SERVICE_STOP_PENDING);
                   StopsByItselfAt(1500);
                 },
                 true, 1500, 0, 16},
        StopCase{"ControlAnsweredNotActiveKeepsPolling",
                 [] {
                   AddRemoteService(SERVICE_RUNNING);
                   winsim::FailCall("ControlService", 1, ERROR_SERVICE_NOT_ACTIVE);
                   StopsByItselfAt(400);
                 },
                 true, 400, 1, 5},
        StopCase{"HostEndsNineSecondsAfterStop",
                 [] {
                   AddRemoteService(SERVICE_RUNNING, [](ServiceSetup& s) {
                     s.stop_takes_ms = 100;
                     s.host_lingers_ms = 9000;
                   });
                 },
                 true, 9100, 1, 2},
        StopCase{"NotInstalled", [] {}, false, 0, 0, 0},
        StopCase{"ManagerUnavailable",
                 [] {
                   AddRemoteService(SERVICE_RUNNING);
                   winsim::FailCall("OpenSCManagerW", 1, ERROR_ACCESS_DENIED);
                 },
                 false, 0, 0, 0},
        StopCase{"ServiceAccessDenied",
                 [] {
                   AddRemoteService(SERVICE_RUNNING,
                                    [](ServiceSetup& s) { s.open_error = ERROR_ACCESS_DENIED; });
                 },
                 false, 0, 0, 0},
        StopCase{"FirstQueryFails",
                 [] {
                   AddRemoteService(SERVICE_RUNNING);
                   winsim::FailCall("QueryServiceStatus", 1, ERROR_ACCESS_DENIED);
                 },
                 false, 0, 0, 0},
        StopCase{"StopControlRefused",
                 [] {
                   AddRemoteService(SERVICE_RUNNING, [](ServiceSetup& s) {
                     s.stop_error = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
                   });
                 },
                 false, 0, 1, 0},
        StopCase{"QueryFailsWhilePolling",
                 [] {
                   AddRemoteService(SERVICE_RUNNING, [](ServiceSetup& s) { s.stop_takes_ms = 2000; });
                   winsim::FailCall("QueryServiceStatusEx", 3, ERROR_ACCESS_DENIED);
                 },
                 false, 200, 1, 3},
        StopCase{"IgnoresStopForThreeHundredPolls",
                 [] { AddRemoteService(SERVICE_RUNNING, [](ServiceSetup& s) { s.ignores_stop = true; }); },
                 false, 30000, 1, 300},
        StopCase{"HostOutlivesTenSeconds",
                 [] {
                   AddRemoteService(SERVICE_RUNNING, [](ServiceSetup& s) {
                     s.stop_takes_ms = 100;
                     s.host_lingers_ms = 10500;
                   });
                 },
                 false, 10100, 1, 2},
        StopCase{"HostWaitFails",
                 [] {
                   AddRemoteService(SERVICE_RUNNING, [](ServiceSetup& s) { s.stop_takes_ms = 100; });
                   winsim::FailCall("WaitForSingleObject", 1, ERROR_ACCESS_DENIED);
                 },
                 false, 100, 1, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RemoteServiceTest, HostIsOpenedOnceAndAwaited) {
  AddRemoteService(SERVICE_RUNNING, [](ServiceSetup& s) { s.stop_takes_ms = 500; });
  const DWORD host = winsim::ServiceHostPid(kService);

  EXPECT_TRUE(StopRemoteService());
  EXPECT_EQ(winsim::UseCount("OpenProcess"), 1u);
  EXPECT_FALSE(winsim::IsRunning(host));
}

TEST_F(RemoteServiceTest, HostThatCannotBeOpenedIsRetriedAndNotAwaited) {
  AddRemoteService(SERVICE_RUNNING, [](ServiceSetup& s) {
    s.stop_takes_ms = 300;
    s.host_lingers_ms.reset();  // the host would never end
  });
  winsim::FailCall("OpenProcess", 0, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(StopRemoteService());
  EXPECT_EQ(winsim::UseCount("OpenProcess"), 3u);  // once per poll that named it
  EXPECT_EQ(winsim::UseCount("WaitForSingleObject"), 0u);
  EXPECT_EQ(winsim::NowMs(), 300u);
}

// ---- RestartRemoteServiceAndPublish ---------------------------------------

struct RestartCase {
  const char* name;
  void (*arrange)();
  bool runs;
  uint64_t elapsed_ms;
  unsigned start_requests;
  unsigned status_polls;
};
void PrintTo(const RestartCase& c, std::ostream* out) { *out << c.name; }

class RestartRemoteServiceTest
    : public RemoteServiceTest,
      public ::testing::WithParamInterface<std::tuple<RestartCase, const wchar_t*>> {};

TEST_P(RestartRemoteServiceTest, PublishesOnceForTheToken) {
  const RestartCase& situation = std::get<0>(GetParam());
  const std::wstring outcome = std::get<1>(GetParam());
  situation.arrange();

  EXPECT_EQ(RestartRemoteServiceAndPublish(L"T-9", outcome), situation.runs);
  EXPECT_EQ(PublishedRecord(), L"T-9|" + (situation.runs ? outcome : kRestartPrefix + outcome));
  EXPECT_EQ(winsim::UseCount("RegSetValueExW"), 1u);
  EXPECT_EQ(winsim::NowMs(), situation.elapsed_ms);
  EXPECT_EQ(winsim::CallsTo("StartServiceW").size(), situation.start_requests);
  EXPECT_EQ(winsim::UseCount("QueryServiceStatus"), situation.status_polls);
}

INSTANTIATE_TEST_SUITE_P(
    Situations, RestartRemoteServiceTest,
    ::testing::Combine(
        ::testing::Values(
            RestartCase{"StoppedStartsAtOnce", [] { AddRemoteService(SERVICE_STOPPED); }, true,
                        0, 1, 1},
            RestartCase{"StartTakesTwoSeconds",
                        [] {
                          AddRemoteService(SERVICE_STOPPED,
                                           [](ServiceSetup& s) { s.start_takes_ms = 2000; });
                        },
                        true, 2000, 1, 21},
            RestartCase{"AlreadyRunning", [] { AddRemoteService(SERVICE_RUNNING); }, true, 0, 1,
                        1},
            RestartCase{"NotInstalled", [] {}, false, 0, 0, 0},
            RestartCase{"ManagerUnavailable",
                        [] {
                          AddRemoteService(SERVICE_STOPPED);
                          winsim::FailCall("OpenSCManagerW", 1, ERROR_ACCESS_DENIED);
                        },
                        false, 0, 0, 0},
            RestartCase{"ServiceAccessDenied",
                        [] {
                          AddRemoteService(SERVICE_STOPPED,
                                           [](ServiceSetup& s) { s.open_error = ERROR_ACCESS_DENIED; });
                        },
                        false, 0, 0, 0},
            RestartCase{"DisabledServiceIsNotPolled",
                        [] {
                          AddRemoteService(SERVICE_STOPPED,
                                           [](ServiceSetup& s) { s.start_error = ERROR_SERVICE_DISABLED; });
                        },
                        false, 0, 1, 0},
            RestartCase{"QueryFails",
                        [] {
                          AddRemoteService(SERVICE_STOPPED);
                          winsim::FailCall("QueryServiceStatus", 1, ERROR_ACCESS_DENIED);
                        },
                        false, 0, 1, 1},
            RestartCase{"StaysStartPending",
                        [] {
                          AddRemoteService(SERVICE_STOPPED,
                                           [](ServiceSetup& s) { s.start_takes_ms = 60000; });
                        },
                        false, 30000, 1, 300},
            RestartCase{"StartsAndStopsAgain",
                        [] {
                          AddRemoteService(SERVICE_STOPPED, [](ServiceSetup& s) {
                            s.start_takes_ms = 500;
                            s.falls_back_after_start = true;
                          });
                        },
                        false, 30000, 1, 300}),
        ::testing::Values(L"completed",
                          L"failed:Windows restart required; log: D:\\pkg\\update.msi.log")),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param)[0] == L'c' ? "_Completed" : "_Failed");
    });

TEST_F(RemoteServiceTest, NoOutcomeIsVisibleBeforeTheServiceRuns) {
  AddRemoteService(SERVICE_STOPPED, [](ServiceSetup& s) { s.start_takes_ms = 2000; });
  std::optional<std::wstring> seen_while_starting = L"not read";
  winsim::At(1950, [&] { seen_while_starting = PublishedRecord(); });

  EXPECT_TRUE(RestartRemoteServiceAndPublish(L"T", L"completed"));
  EXPECT_EQ(seen_while_starting, std::nullopt);
  EXPECT_EQ(PublishedRecord(), L"T|completed");
}

TEST_F(RemoteServiceTest, UnwritableRecordDoesNotChangeTheResult) {
  AddRemoteService(SERVICE_STOPPED);
  winsim::FailCall("RegCreateKeyExW", 0, ERROR_ACCESS_DENIED);

  EXPECT_TRUE(RestartRemoteServiceAndPublish(L"T", L"completed"));
  EXPECT_EQ(PublishedRecord(), std::nullopt);
  EXPECT_EQ(winsim::ServiceState(kService), SERVICE_RUNNING);
}

}  // namespace
