#include "contract/status_record.h"

#include "shared/status_record_text.h"
#include "shared/updater_contract.h"
#include "win/machine_registry.h"

namespace road {

std::wstring ReadStatusRecord() {
  return ReadMachineString(updater_contract::kStatusKeyPath, updater_contract::kStatusValueName);
}

StatusRecord SplitStatusRecord(const std::wstring& text) {
  const std::wstring token = TokenOfRecord(text);
  const UpdateOutcome outcome = OutcomeForToken(text, token);
  const StatusRecord::Kind kind = outcome == UpdateOutcome::kCompleted
                                      ? StatusRecord::Kind::kCompleted
                                  : outcome == UpdateOutcome::kFailed ? StatusRecord::Kind::kFailed
                                                                      : StatusRecord::Kind::kNone;
  return {kind, token, OutcomeAfterToken(text, token)};
}

}  // namespace road
