#include "service/apply_decision.h"

#include <utility>

#include "feed/feed_verdict.h"

namespace road {

namespace {

using Outcome = ApplyDecision::Outcome;

bool IsInsideApplyWindow(const ApplyWindow& window, unsigned minute) noexcept {
  if (window.start_minute < window.end_minute) {
    return minute >= window.start_minute && minute < window.end_minute;
  }
  return minute >= window.start_minute || minute < window.end_minute;
}

ApplyDecision NotNow(Outcome outcome, std::string reason) { return {outcome, std::move(reason)}; }

}  // namespace

ApplyDecision DecideAutomaticApply(const UpdatePolicy& policy, const ApplyFacts& facts) {
  if (policy.mode == UpdateMode::kOff) {
    return NotNow(Outcome::kOff, "updates are turned off by policy (UpdateMode 0)");
  }
  if (policy.mode != UpdateMode::kAutomatic) {
    return NotNow(Outcome::kNotAutomatic, "the user applies updates (UpdateMode 1)");
  }
  if (!IsWithinVersionPrefix(facts.ready_version, policy.version_prefix)) {
    return NotNow(Outcome::kOutsidePrefix, "version " + VersionText(facts.ready_version) +
                                               " is outside the policy's version prefix " +
                                               policy.version_prefix);
  }
  if (policy.window && !IsInsideApplyWindow(*policy.window, facts.local_minute_of_day)) {
    return NotNow(Outcome::kOutsideWindow, "it is " + MinuteOfDayText(facts.local_minute_of_day) +
                                               ", outside the apply window " +
                                               ApplyWindowText(*policy.window));
  }
  if (facts.ui_runs && !facts.ui_user_agreed) {
    return NotNow(Outcome::kUiUserNotAgreed,
                  "the program is open in a session and its user has not agreed");
  }
  return {Outcome::kApplyNow, {}};
}

}  // namespace road
