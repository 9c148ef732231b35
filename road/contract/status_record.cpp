#include "contract/status_record.h"

#include "shared/status_record_text.h"
#include "shared/updater_contract.h"
#include "win/machine_registry.h"

namespace road {

namespace {

[[nodiscard]] StatusRecord::Kind KindOf(UpdateOutcome outcome) noexcept {
  switch (outcome) {
    case UpdateOutcome::kCompleted:
      return StatusRecord::Kind::kCompleted;
    case UpdateOutcome::kFailed:
      return StatusRecord::Kind::kFailed;
    case UpdateOutcome::kNone:
      break;
  }
  return StatusRecord::Kind::kNone;
}

}  // namespace

std::wstring ReadStatusRecord() {
  return ReadMachineString(updater_contract::kStatusKeyPath, updater_contract::kStatusValueName);
}

StatusRecord SplitStatusRecord(const std::wstring& text) {
  const std::wstring token = TokenOfRecord(text);
  return {KindOf(OutcomeForToken(text, token)), token, OutcomeAfterToken(text, token)};
}

}  // namespace road
