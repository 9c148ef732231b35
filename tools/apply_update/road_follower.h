// Follows on a timeline an update that a click on "Apply update" began on the product's road.
#pragma once

#include <windows.h>

#include <string>

#include "apply_update/update_timeline.h"

namespace apply_update {

struct RoadOutcome {
  std::wstring answer;  // the service's last answer, as the UI's log gives it
  std::wstring token;   // the token the service started, empty until it started one
};

// Looks every 20 ms until installer mode and the relaunch watcher have both ended, the service
// refused, or `timeout_ms` ran out. Once the service has started the update, the timeline
// follows its staged updater and package.
[[nodiscard]] RoadOutcome FollowRoad(UpdateTimeline& timeline, DWORD timeout_ms);

// Follows the service's check of the feed that a click on "Check for updates" began: asks the
// service for its status every 100 ms and notes each new answer ("service: status checking",
// "service: status downloading ...") until a package is ready to install, which it returns
// ("2.0.0"), or `timeout_ms` ran out (empty then).
[[nodiscard]] std::wstring FollowFeed(UpdateTimeline& timeline, DWORD timeout_ms);

}  // namespace apply_update
