#include "ui/last_update.h"

#include "contract/road_contract.h"
#include "contract/status_record.h"
#include "ui/service_status.h"
#include "win/machine_registry.h"

namespace road {

std::wstring RecordedOutcomeFor(const std::wstring& token) {
  if (token.empty()) return L"";
  const StatusRecord record = SplitStatusRecord(ReadStatusRecord());
  if (record.kind == StatusRecord::Kind::kNone || record.token != token) return L"";
  return record.outcome;
}

LastUpdateFacts ReadLastUpdateFacts() {
  LastUpdateFacts facts;
  facts.started_token = ReadMachineString(kRoadKeyPath, kStartedTokenValueName);
  facts.outcome = RecordedOutcomeFor(facts.started_token);
  facts.restored_token = ReadMachineString(kRoadKeyPath, kServiceRestoredValueName);
  facts.service_running = ServiceStatus().dwCurrentState == SERVICE_RUNNING;
  return facts;
}

}  // namespace road
