#include "shared/status_record_text.h"

#include "shared/updater_contract.h"

namespace {

using updater_contract::kCompletedOutcome;
using updater_contract::kFailedKeyword;
using updater_contract::kLogPathSeparator;
using updater_contract::kRecordSeparator;
using updater_contract::kRestartFailedPrefix;

[[nodiscard]] bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::wstring StatusRecordText(const std::wstring& token, const std::wstring& outcome) {
  return token + kRecordSeparator + outcome;
}

std::wstring FailedOutcome(const std::wstring& reason) { return kFailedKeyword + reason; }

std::wstring FailedOutcomeWithLog(const std::wstring& reason, const std::wstring& log_path) {
  return FailedOutcome(reason + kLogPathSeparator + log_path);
}

std::wstring RestartFailedOutcome(const std::wstring& installation_outcome) {
  return kRestartFailedPrefix + installation_outcome;
}

UpdateOutcome OutcomeForToken(const std::wstring& record, const std::wstring& token) {
  const std::wstring token_prefix = token + kRecordSeparator;
  if (!StartsWith(record, token_prefix)) return UpdateOutcome::kNone;
  return OutcomeOf(record.substr(token_prefix.size()));
}

UpdateOutcome OutcomeOf(const std::wstring& outcome) {
  if (outcome == kCompletedOutcome) return UpdateOutcome::kCompleted;
  if (StartsWith(outcome, kFailedKeyword)) return UpdateOutcome::kFailed;
  return UpdateOutcome::kNone;
}

std::wstring TokenOfRecord(const std::wstring& record) {
  const size_t bar = record.find(kRecordSeparator);
  return bar == std::wstring::npos ? std::wstring() : record.substr(0, bar);
}

std::wstring OutcomeAfterToken(const std::wstring& record, const std::wstring& token) {
  const std::wstring token_prefix = token + kRecordSeparator;
  return StartsWith(record, token_prefix) ? record.substr(token_prefix.size()) : record;
}

OutcomeParts ReadOutcome(const std::wstring& outcome) {
  OutcomeParts parts;
  parts.kind = OutcomeOf(outcome);
  std::wstring installation = outcome;
  parts.service_stayed_down = StartsWith(outcome, kRestartFailedPrefix);
  if (parts.service_stayed_down) installation.erase(0, std::wstring(kRestartFailedPrefix).size());
  if (!StartsWith(installation, kFailedKeyword)) return parts;
  const std::wstring details = installation.substr(std::wstring(kFailedKeyword).size());
  const size_t separator = details.find(kLogPathSeparator);
  parts.reason = details.substr(0, separator);
  if (separator != std::wstring::npos) {
    parts.log_path = details.substr(separator + std::wstring(kLogPathSeparator).size());
  }
  return parts;
}
