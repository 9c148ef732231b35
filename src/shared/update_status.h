// The update status record: the one registry value through which installer
// mode tells the relaunch watcher of the same update how the update ended.
//
// HKEY_LOCAL_MACHINE\SOFTWARE\Corvanta\RemoteUpdater, value "Status", REG_SZ:
// the update token, "|", then "completed" or "failed:" and a reason. Its text
// is composed and read by shared/status_record_text.h.
#pragma once

#include <string>

#include "shared/status_record_text.h"

// Stores token, "|" and outcome as the record, replacing what was there.
// Creates the key when it is missing. A failed write is not reported: the
// watcher of that update then sees no outcome and runs into its time limit.
void WriteUpdateStatus(const std::wstring& token, const std::wstring& outcome) noexcept;

// Returns the record's current text up to its first NUL, or an empty string
// when there is no readable REG_SZ value. Never returns a value in part.
[[nodiscard]] std::wstring ReadUpdateStatus();
