// The update status record's text, written and read in one place:
//   <token>|<outcome>
//   outcome: "completed" | "failed:" <reason> | "failed:" <reason> "; log: " <log path>
//            | "failed:Remote service could not restart; installation result: " <outcome>
// Installer mode composes it, the relaunch watcher reads it, and the product's road, its
// tools and the tests take it apart with these same functions.
#pragma once

#include <string>

// ---- Writing --------------------------------------------------------------

// "<token>|<outcome>", the whole record.
[[nodiscard]] std::wstring StatusRecordText(const std::wstring& token, const std::wstring& outcome);

// "failed:<reason>".
[[nodiscard]] std::wstring FailedOutcome(const std::wstring& reason);

// "failed:<reason>; log: <log path>", for a failure whose details are in the Windows
// Installer's log.
[[nodiscard]] std::wstring FailedOutcomeWithLog(const std::wstring& reason,
                                                const std::wstring& log_path);

// The installation's own outcome behind the restart prefix, when the service did not run
// again.
[[nodiscard]] std::wstring RestartFailedOutcome(const std::wstring& installation_outcome);

// ---- Reading --------------------------------------------------------------

enum class UpdateOutcome { kNone, kCompleted, kFailed };

// The watcher's rules for a token: completed only for exactly token + "|completed", failed
// for anything that begins with token + "|failed:", otherwise no outcome for this token yet.
// The token is compared whole, so it may hold a bar itself.
[[nodiscard]] UpdateOutcome OutcomeForToken(const std::wstring& record, const std::wstring& token);

// The same rules on an outcome text alone, the token already taken off.
[[nodiscard]] UpdateOutcome OutcomeOf(const std::wstring& outcome);

// The token a record names, for a reader that does not know it: the text before its first
// bar, so a token with a bar of its own is not told apart here. Empty without a bar.
[[nodiscard]] std::wstring TokenOfRecord(const std::wstring& record);

// The record's text after "<token>|"; the whole record when it does not begin so.
[[nodiscard]] std::wstring OutcomeAfterToken(const std::wstring& record, const std::wstring& token);

// An outcome text taken apart.
struct OutcomeParts {
  UpdateOutcome kind = UpdateOutcome::kNone;  // as OutcomeOf judges the whole text
  // It begins with the restart prefix: the service did not run again, and the fields below
  // describe the installation's own outcome after the prefix.
  bool service_stayed_down = false;
  std::wstring reason;    // after "failed:", up to the first "; log: "; empty when completed
  std::wstring log_path;  // after that "; log: "; empty when there is none
};
[[nodiscard]] OutcomeParts ReadOutcome(const std::wstring& outcome);
