// What the UI program tells its user of an update that did not end as it should: one that
// never published its outcome, one that failed while this program still waited for it, and a
// service that had to be started again afterwards. Pure: every text is chosen from what it is
// handed; the outcomes themselves are worded by update_outcome_text.h.
#pragma once

#include <string>

#include "ui/last_update.h"

namespace road {

// An update was started and no outcome was ever published for it, and nothing is still at
// work on it.
inline constexpr wchar_t kUnfinishedUpdateText[] =
    L"The last update did not finish. Apply it again, or reinstall Corvanta Remote if the "
    L"problem persists";
// The update's guardian found the service stopped after the update and started it again.
inline constexpr wchar_t kServiceBroughtBackText[] =
    L"The update service had to be started again after the update";

// The words at the program's start, running as `running_version`: the outcome of the update
// the service started last; kUnfinishedUpdateText when the record holds none for it while the
// service runs (while it does not, installer mode may still be at work, as it restarts the
// service before it publishes); then, on a line of its own, kServiceBroughtBackText when the
// guardian restored the service after that same update. Empty when no update was started.
[[nodiscard]] std::wstring LastUpdateText(const LastUpdateFacts& facts,
                                          const std::wstring& running_version);

// The words while the update this program started runs, from the record's `outcome` for its
// token (empty while none) and whether its relaunch watcher has ended: a failure as soon as
// it is published (installer mode publishes some, such as a service that will not stop,
// before it ends this program); kUnfinishedUpdateText once the watcher has ended without an
// outcome, since nobody will open the program again. Empty while there is nothing new to tell,
// and for a completed update.
[[nodiscard]] std::wstring StartedUpdateText(const std::wstring& outcome, bool watcher_ended);

}  // namespace road
