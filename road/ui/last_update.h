// The update that the service started last, as the UI program finds it: at its start, to tell
// how that update ended, and while the update it started itself runs, to tell a failure that
// comes before installer mode ends it.
#pragma once

#include <string>

namespace road {

// What the UI program reads at its start, as a standard user may; the words are chosen from it
// by LastUpdateText (last_update_text.h).
struct LastUpdateFacts {
  std::wstring started_token;   // of the update the service started last; empty when none
  std::wstring outcome;         // the record's outcome for that token; empty while none
  std::wstring restored_token;  // of the update after which the guardian started the service
  bool service_running = false;
};
[[nodiscard]] LastUpdateFacts ReadLastUpdateFacts();

// The outcome text of the updater's record ("completed" or "failed:..."), when the record was
// written for `token`; empty when it holds no outcome for it (another update's, or none yet).
[[nodiscard]] std::wstring RecordedOutcomeFor(const std::wstring& token);

}  // namespace road
