// Applying the pending update: the service's half of the road (see update_road.h).
#pragma once

#include <windows.h>

#include <string>

#include "service/folder_rules.h"
#include "shared/unique_handles.h"

namespace road {

// Makes every level of the road that is missing, with its owner and access list, and checks
// every level, made now or found, with JudgeFolder. Until it has succeeded, nothing is written
// in those folders and every update request is refused. Returns the first level that failed
// and why.
[[nodiscard]] FolderVerdict PrepareUpdateFolders();

// What the service knows of the updates it staged and started.
struct UpdateState {
    UniqueHandle installer;      // installer mode of the latest update, while the service runs
    std::wstring staged_token;   // the update staged last and not yet started; empty if none
    std::wstring staged_package;
    ULONG staged_session = 0;    // the session of the client it was staged for
};

// The answer to one request line (without its line end): "apply-pending-update" takes the
// newest package in Incoming, stages it with a copy of the updater that sits beside this
// service, checks the copy's SHA-256 and creates the watcher log, and answers
// "staged <token>"; "start <token>" from a client of the same session (`session`) starts
// installer mode from that staged copy and answers "started <token>". Anything else, or a step that fails, gets "refused: <reason>". Each step
// is written to the service log.
[[nodiscard]] std::string AnswerRequest(const std::string& line, bool well_formed,
                                        ULONG session, UpdateState& state);

// Appends a line to the service log (to the event log while the folders are not trusted).
void NoteInServiceLog(const std::wstring& line);

}  // namespace road
