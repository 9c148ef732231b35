#include "service/guardian_decision.h"

namespace road {

namespace {

[[nodiscard]] bool Runs(DWORD state) noexcept {
  return state == SERVICE_RUNNING || state == SERVICE_PAUSED || state == SERVICE_PAUSE_PENDING ||
         state == SERVICE_CONTINUE_PENDING;
}

[[nodiscard]] GuardianStep WaitFor(ULONGLONG remaining_ms) noexcept {
  return {GuardianStep::Kind::kWait,
          static_cast<DWORD>(remaining_ms < kGuardianPollMs ? remaining_ms : kGuardianPollMs)};
}

}  // namespace

GuardianStep DecideGuardianStep(const GuardianFacts& facts) noexcept {
  if (facts.superseded || Runs(facts.service_state)) return {};
  if (facts.installation_runs) return WaitFor(kGuardianPollMs);
  const bool pending =
      facts.service_state == SERVICE_START_PENDING || facts.service_state == SERVICE_STOP_PENDING;
  if (pending && facts.waited_ms < kGuardianSettleMs) return WaitFor(kGuardianPollMs);
  if (facts.starts_made >= kGuardianMaxStarts) return {GuardianStep::Kind::kGiveUp, 0};
  const DWORD delay = kGuardianStartDelaysMs[facts.starts_made];
  // A service still pending after its settling time has had longer than any delay.
  if (facts.waited_ms < delay) return WaitFor(delay - facts.waited_ms);
  return {GuardianStep::Kind::kStartNow, 0};
}

}  // namespace road
