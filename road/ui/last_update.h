// The outcome of the update that the service started last, as the UI program reads it when it
// starts: the relaunched program shows how the update that closed its predecessor ended.
#pragma once

#include <string>

namespace road {

// The outcome text of the updater's record ("completed" or "failed:..."), when the record was
// written for the token the service keeps of the update it started last (kRoadKeyPath); empty
// when no update was started, or the record holds no outcome for it (another update's, or none
// yet). Read as a standard user may.
[[nodiscard]] std::wstring LastUpdateOutcome();

}  // namespace road
