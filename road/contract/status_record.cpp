#include "contract/status_record.h"

#include <cwchar>

#include "shared/updater_contract.h"
#include "win/machine_registry.h"

namespace road {

namespace {

[[nodiscard]] StatusRecord::Kind OutcomeKind(const std::wstring& outcome) noexcept {
  if (outcome == updater_contract::kCompletedOutcome) return StatusRecord::Kind::kCompleted;
  const wchar_t* failed = updater_contract::kFailedKeyword;
  if (outcome.compare(0, std::wcslen(failed), failed) == 0) return StatusRecord::Kind::kFailed;
  return StatusRecord::Kind::kNone;
}

}  // namespace

std::wstring ReadStatusRecord() {
  return ReadMachineString(updater_contract::kStatusKeyPath, updater_contract::kStatusValueName);
}

StatusRecord SplitStatusRecord(const std::wstring& text) {
  const size_t bar = text.find(updater_contract::kRecordSeparator);
  if (bar == std::wstring::npos) return {StatusRecord::Kind::kNone, L"", text};
  const std::wstring outcome = text.substr(bar + std::wcslen(updater_contract::kRecordSeparator));
  return {OutcomeKind(outcome), text.substr(0, bar), outcome};
}

}  // namespace road
