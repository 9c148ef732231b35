#include "ui/last_update_text.h"

#include "shared/updater_contract.h"
#include "ui/update_outcome_text.h"

namespace road {

std::wstring LastUpdateText(const LastUpdateFacts& facts, const std::wstring& running_version) {
  if (facts.started_token.empty()) return L"";
  std::wstring text;
  if (!facts.outcome.empty()) {
    text = UpdateOutcomeText(facts.outcome, running_version);
  } else if (facts.service_running) {
    text = kUnfinishedUpdateText;
  }
  if (facts.restored_token != facts.started_token) return text;
  return text.empty() ? kServiceBroughtBackText : text + L"\r\n" + kServiceBroughtBackText;
}

std::wstring StartedUpdateText(const std::wstring& outcome, bool watcher_ended) {
  if (outcome == updater_contract::kCompletedOutcome) return L"";
  if (!outcome.empty()) return UpdateOutcomeText(outcome, /*running_version=*/L"");
  return watcher_ended ? kUnfinishedUpdateText : L"";
}

}  // namespace road
