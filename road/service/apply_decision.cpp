#include "service/apply_decision.h"

#include <utility>

#include "feed/feed_verdict.h"

namespace road {

namespace {

using ApplyOutcome = ApplyDecision::Outcome;

bool IsInsideApplyWindow(const ApplyWindow& window, unsigned minute) noexcept {
  if (window.start_minute < window.end_minute) {
    return minute >= window.start_minute && minute < window.end_minute;
  }
  return minute >= window.start_minute || minute < window.end_minute;
}

ApplyDecision NotNow(ApplyOutcome outcome, std::string reason) {
  return {outcome, std::move(reason)};
}

}  // namespace

ApplyDecision DecideAutomaticApply(const UpdatePolicy& policy, const ApplyFacts& facts) {
  if (policy.mode == UpdateMode::kOff) {
    return NotNow(ApplyOutcome::kOff, "updates are turned off by policy (UpdateMode 0)");
  }
  if (policy.mode != UpdateMode::kAutomatic) {
    return NotNow(ApplyOutcome::kNotAutomatic, "the user applies updates (UpdateMode 1)");
  }
  if (!IsWithinVersionPrefix(facts.ready_version, policy.version_prefix)) {
    return NotNow(ApplyOutcome::kOutsidePrefix, "version " + VersionText(facts.ready_version) +
                                                    " is outside the policy's version prefix " +
                                                    policy.version_prefix);
  }
  if (policy.window && !IsInsideApplyWindow(*policy.window, facts.local_minute_of_day)) {
    return NotNow(ApplyOutcome::kOutsideWindow,
                  "it is " + MinuteOfDayText(facts.local_minute_of_day) +
                      ", outside the apply window " + ApplyWindowText(*policy.window));
  }
  if (facts.ui_runs && !facts.ui_user_agreed) {
    return NotNow(ApplyOutcome::kUiUserNotAgreed,
                  "the program is open in a session and its user has not agreed");
  }
  return {ApplyOutcome::kApplyNow, {}};
}

}  // namespace road
