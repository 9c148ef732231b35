// The update status record's text, written and read in one place:
//   <token>|<outcome>
//   outcome: "completed" | "failed:" <reason> | "failed:" <reason> "; log: " <log path>
//            | "failed:Remote service could not restart; installation result: " <outcome>
// Installer mode composes it, the relaunch watcher reads it, and the product's road, its
// tools and the tests take it apart with these same functions. Kept in this header alone, so
// that the road, which does not link the updater's library, reads it the same way.
#pragma once

#include <string>

#include "shared/updater_contract.h"

namespace status_record_text {

[[nodiscard]] inline bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The length of a contract text, for cutting it off the front of another.
[[nodiscard]] inline size_t LengthOf(const wchar_t* text) { return std::wstring(text).size(); }

}  // namespace status_record_text

// ---- Writing --------------------------------------------------------------

// "<token>|<outcome>", the whole record.
[[nodiscard]] inline std::wstring StatusRecordText(const std::wstring& token,
                                                   const std::wstring& outcome) {
  return token + updater_contract::kRecordSeparator + outcome;
}

// "failed:<reason>".
[[nodiscard]] inline std::wstring FailedOutcome(const std::wstring& reason) {
  return updater_contract::kFailedKeyword + reason;
}

// "failed:<reason>; log: <log path>", for a failure whose details are in the Windows
// Installer's log.
[[nodiscard]] inline std::wstring FailedOutcomeWithLog(const std::wstring& reason,
                                                       const std::wstring& log_path) {
  return FailedOutcome(reason + updater_contract::kLogPathSeparator + log_path);
}

// The installation's own outcome behind the restart prefix, when the service did not run
// again.
[[nodiscard]] inline std::wstring RestartFailedOutcome(const std::wstring& installation_outcome) {
  return updater_contract::kRestartFailedPrefix + installation_outcome;
}

// ---- Reading --------------------------------------------------------------

enum class UpdateOutcome { kNone, kCompleted, kFailed };

// The rules on an outcome text, the token already taken off: completed only for exactly
// "completed", failed for anything that begins with "failed:", otherwise no outcome.
[[nodiscard]] inline UpdateOutcome OutcomeOf(const std::wstring& outcome) {
  if (outcome == updater_contract::kCompletedOutcome) return UpdateOutcome::kCompleted;
  if (status_record_text::StartsWith(outcome, updater_contract::kFailedKeyword)) {
    return UpdateOutcome::kFailed;
  }
  return UpdateOutcome::kNone;
}

// The watcher's rules for a token: completed only for exactly token + "|completed", failed
// for anything that begins with token + "|failed:", otherwise no outcome for this token yet.
// The token is compared whole, so it may hold a bar itself.
[[nodiscard]] inline UpdateOutcome OutcomeForToken(const std::wstring& record,
                                                   const std::wstring& token) {
  const std::wstring token_prefix = token + updater_contract::kRecordSeparator;
  if (!status_record_text::StartsWith(record, token_prefix)) return UpdateOutcome::kNone;
  return OutcomeOf(record.substr(token_prefix.size()));
}

// The token a record names, for a reader that does not know it: the text before its first
// bar, so a token with a bar of its own is not told apart here. Empty without a bar.
[[nodiscard]] inline std::wstring TokenOfRecord(const std::wstring& record) {
  const size_t bar = record.find(updater_contract::kRecordSeparator);
  return bar == std::wstring::npos ? std::wstring() : record.substr(0, bar);
}

// The record's text after "<token>|"; the whole record when it does not begin so.
[[nodiscard]] inline std::wstring OutcomeAfterToken(const std::wstring& record,
                                                    const std::wstring& token) {
  const std::wstring token_prefix = token + updater_contract::kRecordSeparator;
  if (!status_record_text::StartsWith(record, token_prefix)) return record;
  return record.substr(token_prefix.size());
}

// An outcome text taken apart.
struct OutcomeParts {
  UpdateOutcome kind = UpdateOutcome::kNone;  // as OutcomeOf judges the whole text
  // It begins with the restart prefix: the service did not run again, and the fields below
  // describe the installation's own outcome after the prefix.
  bool service_stayed_down = false;
  std::wstring reason;    // after "failed:", up to the first "; log: "; empty when completed
  std::wstring log_path;  // after that "; log: "; empty when there is none
};

[[nodiscard]] inline OutcomeParts ReadOutcome(const std::wstring& outcome) {
  using status_record_text::LengthOf;
  using status_record_text::StartsWith;
  OutcomeParts parts;
  parts.kind = OutcomeOf(outcome);
  parts.service_stayed_down = StartsWith(outcome, updater_contract::kRestartFailedPrefix);
  const std::wstring installation =
      parts.service_stayed_down ? outcome.substr(LengthOf(updater_contract::kRestartFailedPrefix))
                                : outcome;
  if (!StartsWith(installation, updater_contract::kFailedKeyword)) return parts;
  const std::wstring details = installation.substr(LengthOf(updater_contract::kFailedKeyword));
  const size_t separator = details.find(updater_contract::kLogPathSeparator);
  parts.reason = details.substr(0, separator);
  if (separator != std::wstring::npos) {
    parts.log_path = details.substr(separator + LengthOf(updater_contract::kLogPathSeparator));
  }
  return parts;
}
