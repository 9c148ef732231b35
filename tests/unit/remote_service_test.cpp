// Stopping and restarting the product's service, against the simulated
// Service Control Manager, in virtual time.
#include "install/remote_service.h"

#include <string>
#include <tuple>
#include <utility>

#include "support/world_test.h"

namespace {

using Service = winsim::ServiceSpec;
using updater_contract::kServiceName;

// A machine whose service behaves as given, with these calls failing.
Machine With(Service service, std::vector<Fault> faults = {}) {
  return {.service = std::move(service), .faults = std::move(faults)};
}

// How a stop or a restart ends: its result, and how long it took.
struct ServiceCase {
  const char* name;
  Machine machine;
  bool result;
  uint64_t elapsed_ms;
};

class StopRemoteServiceTest : public WorldTest,
                              public ::testing::WithParamInterface<ServiceCase> {};

TEST_P(StopRemoteServiceTest, ReportsWhetherServiceAndHostAreGone) {
  ArrangeMachine(GetParam().machine);

  EXPECT_EQ(StopRemoteService(), GetParam().result);
  EXPECT_EQ(winsim::NowMs(), GetParam().elapsed_ms);
  if (GetParam().result) EXPECT_EQ(winsim::ServiceState(kServiceName), SERVICE_STOPPED);
}

const Service kRunning{};
const Service kStopped{.state = SERVICE_STOPPED};
// The service as given, with the first call to `function` denied.
Machine Denied(const char* function, Service service = kRunning) {
  return With(std::move(service), {{function, 1, kDenied}});
}
// clang-format off
const ServiceCase kStops[] = {
    {"RunningStopsAtOnce", {}, true, 0},
    {"StopTakesTwoAndAHalfSeconds", With({.stop_takes_ms = 2500}), true, 2500},
    {"AlreadyStopped", With({.state = SERVICE_STOPPED}), true, 0},
    {"StopPendingIsAwaited", With({.state = SERVICE_STOP_PENDING, .stops_at_ms = 1500}), true,
     1500},
    {"ControlAnsweredNotActiveKeepsPolling",
     With({.stops_at_ms = 400}, {{"ControlService", 1, ERROR_SERVICE_NOT_ACTIVE}}), true, 400},
    {"HostEndsNineSecondsAfterStop", With({.stop_takes_ms = 100, .host_lingers_ms = 9000}), true,
     9100},
    // A host that cannot be opened is tried again at the next poll, and
    // not awaited when it never opens.
    {"HostOpenedAtTheNextPoll",
     Denied("OpenProcess", {.stop_takes_ms = 300, .host_lingers_ms = 2000}), true, 2300},
    {"HostNeverOpenedIsNotAwaited",
     With({.stop_takes_ms = 300, .host_lingers_ms = std::nullopt}, {{"OpenProcess", 0, kDenied}}),
     true, 300},
    {"NotInstalled", {.service = std::nullopt}, false, 0},
    {"ManagerUnavailable", Denied("OpenSCManagerW"), false, 0},
    {"ServiceAccessDenied", Denied("OpenServiceW"), false, 0},
    {"FirstQueryFails", Denied("QueryServiceStatus"), false, 0},
    {"StopControlRefused",
     With(kRunning, {{"ControlService", 1, ERROR_SERVICE_CANNOT_ACCEPT_CTRL}}), false, 0},
    {"QueryFailsWhilePolling",
     With({.stop_takes_ms = 2000}, {{"QueryServiceStatusEx", 3, kDenied}}), false, 200},
    {"IgnoresStopForThirtySeconds", With({.ignores_stop = true}), false, 30000},
    {"HostOutlivesTenSeconds", With({.stop_takes_ms = 100, .host_lingers_ms = 10500}), false,
     10100},
    {"HostWaitFails", Denied("WaitForSingleObject", {.stop_takes_ms = 100}), false, 100},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Situations, StopRemoteServiceTest, ::testing::ValuesIn(kStops), kRowName);

// Each restart runs once for a completed and once for a failed outcome.
class RestartRemoteServiceTest
    : public WorldTest,
      public ::testing::WithParamInterface<std::tuple<ServiceCase, std::wstring>> {};

TEST_P(RestartRemoteServiceTest, PublishesOnceForTheToken) {
  const ServiceCase& situation = std::get<0>(GetParam());
  const std::wstring& outcome = std::get<1>(GetParam());
  ArrangeMachine(situation.machine);
  // No outcome is visible before the service runs or the restart is given up.
  std::optional<std::wstring> seen_before_the_end;
  if (situation.elapsed_ms > 0) {
    winsim::At(situation.elapsed_ms - 1, [&] { seen_before_the_end = PublishedRecord(); });
  }

  EXPECT_EQ(RestartRemoteServiceAndPublish(L"T-9", outcome), situation.result);
  EXPECT_EQ(seen_before_the_end, std::nullopt);
  EXPECT_EQ(PublishedRecord(),
            StatusRecordText(L"T-9", situation.result ? outcome : RestartFailedOutcome(outcome)));
  EXPECT_EQ(winsim::NowMs(), situation.elapsed_ms);
}

// clang-format off
const ServiceCase kRestarts[] = {
    {"StoppedStartsAtOnce", With(kStopped), true, 0},
    {"StartTakesTwoSeconds", With({.state = SERVICE_STOPPED, .start_takes_ms = 2000}), true, 2000},
    {"AlreadyRunning", {}, true, 0},
    {"NotInstalled", {.service = std::nullopt}, false, 0},
    {"ManagerUnavailable", Denied("OpenSCManagerW", kStopped), false, 0},
    {"ServiceAccessDenied", Denied("OpenServiceW", kStopped), false, 0},
    {"DisabledServiceIsNotPolled", With(kStopped, {{"StartServiceW", 1, ERROR_SERVICE_DISABLED}}),
     false, 0},
    {"QueryFails", Denied("QueryServiceStatus", kStopped), false, 0},
    {"StaysStartPending", With({.state = SERVICE_STOPPED, .start_takes_ms = 60000}), false, 30000},
    {"StartsAndStopsAgain",
     With({.state = SERVICE_STOPPED, .start_takes_ms = 500, .falls_back_after_start = true}), false,
     30000},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(
    Situations, RestartRemoteServiceTest,
    ::testing::Combine(::testing::ValuesIn(kRestarts),
                       ::testing::Values(std::wstring(kCompletedOutcome),
                                         FailedWithLogText(L"Windows restart required", kPackage))),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == kCompletedOutcome ? "_Completed" : "_Failed");
    });

}  // namespace
