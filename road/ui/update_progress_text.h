// What the UI program shows of the next update, from the service's answer to "status" or
// "check-for-update": the words, the download's progress, which buttons it offers, and when it
// asks again. Pure: everything is chosen from the answer it is handed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "contract/pipe_protocol.h"
#include "service/update_policy.h"

namespace road {

// How often the UI asks for the status: every second while the service reads the feed or
// downloads, rarely while nothing moves, and in between while the last check failed (the
// service tries again on its own, after a back-off from 10 s) or the service does not answer,
// so that the window catches up soon.
inline constexpr DWORD kBusyStatusPollMs = 1000;
inline constexpr DWORD kIdleStatusPollMs = 60000;
inline constexpr DWORD kUnsettledStatusPollMs = 10000;

// What the window shows of the next update.
struct UpdateStatusView {
  std::wstring text;                  // the status line
  bool downloading = false;           // the progress bar is shown
  int percent = 0;                    // its position, 0 to 100, while downloading
  bool may_check = false;             // "Check for updates" is enabled
  bool may_apply = false;             // "Apply update" is enabled: a package is ready
  DWORD poll_ms = kIdleStatusPollMs;  // when to ask again
};

// The words for each status:
//   up to date    "Corvanta Remote is up to date."
//   checking      "Checking for updates..."
//   downloading   "Downloading an update: 12.3 MB of 40.0 MB (31 %)"
//   ready         "Version 2.0.0 is ready to install."
//   refused       "The last update check failed: <reason>"
[[nodiscard]] std::wstring UpdateProgressText(const UpdateProgress& progress);

// The view for the service's `answer` (one line, with or without its end) as the update client
// returns it. A status answer shows its words; while checking or downloading nothing else is
// offered, and "Apply update" only once a package is ready. A plain refusal (the service
// refuses every request, say, while its folders are not its own) and no answer at all (the
// service stopped, or hung) say so and offer nothing.
[[nodiscard]] UpdateStatusView ViewOfStatusAnswer(const std::string& answer);

// What the administrator's policy says of updates, in the user's words; empty when it leaves
// them to the user as by default:
//   off         "Updates are turned off by your administrator."
//   prefix      "Your administrator holds updates to version 2.0."
//   automatic   "Updates install automatically." or, with a window,
//               "Updates install automatically between 02:00 and 04:00."
// A prefix and automatic updates give both sentences, in that order.
[[nodiscard]] std::wstring PolicyText(const UpdatePolicy& policy);

// `view` under `policy`: with updates turned off, the policy's words replace the status (a
// package an administrator placed stays offered, the words below it) and no check is offered;
// otherwise the policy's words, if any, follow the status on a line of their own.
[[nodiscard]] UpdateStatusView ViewUnderPolicy(UpdateStatusView view, const UpdatePolicy& policy);

}  // namespace road
