// Applying the pending update: the service's half of the road (see update_road.h).
#pragma once

#include <windows.h>

#include <string>

#include "shared/unique_handles.h"

namespace sample {

// Creates the Updates, Incoming and Staging folders with their access lists where they are
// missing. False when one cannot be made.
[[nodiscard]] bool PrepareUpdateFolders() noexcept;

// What the service knows of the updates it started.
struct UpdateState {
    UniqueHandle installer;  // installer mode of the latest update, while the service runs
};

// Takes the newest package in Incoming, stages it with a copy of the updater that sits beside
// this service, checks the copy's SHA-256, creates the watcher log and starts installer mode
// from the staged copy. Returns the answer for the UI: "started <token>" or "refused: <reason>".
// Each step is written to the service log.
[[nodiscard]] std::string ApplyPendingUpdate(UpdateState& state);

// The answer to one request line (without its line end).
[[nodiscard]] std::string AnswerRequest(const std::string& request, bool well_formed,
                                        UpdateState& state);

// Appends a line to the service log.
void NoteInServiceLog(const std::wstring& line);

}  // namespace sample
