// The update status record: the one registry value through which installer
// mode tells the relaunch watcher of the same update how the update ended.
//
// HKEY_LOCAL_MACHINE\SOFTWARE\Corvanta\RemoteUpdater, value "Status", REG_SZ:
// the update token, "|", then "completed" or "failed:" and a reason.
#pragma once

#include <string>

// Stores token, "|" and outcome as the record, replacing what was there.
// Creates the key when it is missing. A failed write is not reported: the
// watcher of that update then sees no outcome and runs into its time limit.
void WriteUpdateStatus(const std::wstring& token, const std::wstring& outcome) noexcept;

// Returns the record's current text up to its first NUL, or an empty string
// when there is no readable REG_SZ value. Never returns a value in part.
[[nodiscard]] std::wstring ReadUpdateStatus();

enum class UpdateOutcome { kNone, kCompleted, kFailed };

// Applies the reader's rules to a record text for the given token: completed
// only for exactly token + "|completed", failed for anything that begins with
// token + "|failed:", otherwise no outcome for this token yet.
[[nodiscard]] UpdateOutcome OutcomeForToken(const std::wstring& record, const std::wstring& token);
