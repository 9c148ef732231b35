#include "service/automatic_apply.h"

#include <windows.h>

#include <mutex>
#include <optional>
#include <string>

#include "service/apply_decision.h"
#include "service/update_facts.h"
#include "win/text_conversion.h"

namespace road {

namespace {

[[nodiscard]] unsigned LocalMinuteOfDay() noexcept {
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  return static_cast<unsigned>(now.wHour) * 60 + now.wMinute;
}

// Whether a copy of the user interface runs in any session, as far as can be seen.
[[nodiscard]] bool UiRuns() {
  const UpdateFacts facts = GatherUpdateFacts(/*client_session=*/0, std::wstring());
  return !facts.ui_copies_known || !facts.ui_copy_sessions.empty();
}

}  // namespace

void ApplyIfPolicyAllows(const UpdatePolicy& policy, UpdateState& state, const ServiceLog& log) {
  if (policy.mode != UpdateMode::kAutomatic) return;
  const UpdateProgress progress = state.board->Progress();
  if (progress.kind != UpdateProgress::Kind::kReady) return;
  const std::optional<ProductVersion> ready = ParseProductVersion(WidenAscii(progress.version));
  if (!ready) return;
  ApplyFacts facts;
  facts.local_minute_of_day = LocalMinuteOfDay();
  facts.ui_runs = UiRuns();
  facts.ready_version = *ready;
  const ApplyDecision decision = DecideAutomaticApply(policy, facts);
  if (decision.outcome != ApplyDecision::Outcome::kApplyNow) {
    log.NoteRepeatable(L"Automatic update waits", L"Automatic update of " +
                                                      WidenAscii(progress.version) + L" waits: " +
                                                      WidenAscii(decision.reason));
    return;
  }
  log.Note(L"Automatic update of " + WidenAscii(progress.version) + L" begins");
  const std::lock_guard<std::mutex> busy(state.busy);
  const std::string answer = ApplyPendingUpdateUnattended(state, log);
  log.Note(L"Automatic update: " + WidenAscii(answer));
}

}  // namespace road
