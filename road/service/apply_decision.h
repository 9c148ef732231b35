// Whether the service may apply a ready package by itself now, under the administrator's
// policy: decided from what was found, apart from the clock, the sessions and the package, so
// that every case can be judged on data.
#pragma once

#include <string>

#include "package/product_version.h"
#include "service/update_policy.h"

namespace road {

// What the service found when a package is ready.
struct ApplyFacts {
  unsigned local_minute_of_day = 0;  // local time, minutes after midnight, 0 to 1439
  bool ui_runs = false;              // a copy of the UI runs in some session
  bool ui_user_agreed = false;       // the UI's user agreed to have the update applied now
  ProductVersion ready_version;      // the ready package's version
};

struct ApplyDecision {
  enum class Outcome {
    kApplyNow,
    kOff,              // UpdateMode 0
    kNotAutomatic,     // UpdateMode 1: the user applies
    kOutsidePrefix,    // the package is not of the versions the policy holds to
    kOutsideWindow,    // not now: wait for the window
    kUiUserNotAgreed,  // not now: a UI runs and its user has not agreed
  } outcome = Outcome::kOff;
  std::string reason;  // for all but kApplyNow: why not, one ASCII line for the log and the UI
};

// Applies now only when all of these hold, checked in this order; the first that fails is the
// reason:
//   1. the policy's mode is kAutomatic;
//   2. the ready version lies within the policy's version prefix (IsWithinVersionPrefix);
//   3. the local time lies inside the policy's window, when it names one: from its start, up to
//      and not including its end, across midnight when the start is the later time;
//   4. no UI runs in any session, or its user agreed.
// Pure.
[[nodiscard]] ApplyDecision DecideAutomaticApply(const UpdatePolicy& policy,
                                                 const ApplyFacts& facts);

}  // namespace road
