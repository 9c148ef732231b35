// Updates that apply themselves where nobody sits: the service applies a ready package by
// itself when the administrator's policy allows it now (apply_decision.h).
#pragma once

#include "service/service_log.h"
#include "service/update_policy.h"
#include "service/update_requests.h"

namespace road {

// When `state.board` shows a package ready, finds out the local time and whether a copy of the
// user interface runs in any session (one whose sessions cannot be read counts as running),
// and asks DecideAutomaticApply; when it says now, stages the package and starts installer
// mode through the same road as a click (ApplyPendingUpdateUnattended), holding `state.busy`.
// Each decision not to apply is noted in `log` (the repeats of one reason counted together),
// and so is each update started or refused.
void ApplyIfPolicyAllows(const UpdatePolicy& policy, UpdateState& state, const ServiceLog& log);

}  // namespace road
