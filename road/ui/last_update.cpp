#include "ui/last_update.h"

#include "contract/road_contract.h"
#include "contract/status_record.h"
#include "shared/status_record_text.h"
#include "ui/service_status.h"
#include "win/machine_registry.h"

namespace road {

std::wstring RecordedOutcomeFor(const std::wstring& token) {
  const std::wstring record = ReadStatusRecord();
  // Read by the watcher's own rules: the token compared whole.
  if (token.empty() || OutcomeForToken(record, token) == UpdateOutcome::kNone) return L"";
  return OutcomeAfterToken(record, token);
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
