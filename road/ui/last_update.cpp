#include "ui/last_update.h"

#include "contract/road_contract.h"
#include "contract/status_record.h"
#include "win/machine_registry.h"

namespace road {

std::wstring LastUpdateOutcome() {
  const std::wstring started = ReadMachineString(kRoadKeyPath, kStartedTokenValueName);
  if (started.empty()) return L"";
  const StatusRecord record = SplitStatusRecord(ReadStatusRecord());
  if (record.kind == StatusRecord::Kind::kNone || record.token != started) return L"";
  return record.outcome;
}

}  // namespace road
