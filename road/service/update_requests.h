// The service's half of the road: what it answers to each request on the update pipe, and
// what it remembers between the requests of one update.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "contract/pipe_protocol.h"
#include "service/check_board.h"
#include "service/road_folders.h"
#include "service/service_log.h"
#include "service/staging_ledger.h"
#include "shared/unique_handles.h"

namespace road {

// The session of the client at the other end of the pipe, as GetNamedPipeClientSessionId
// found it.
struct ClientSession {
  bool known = false;  // false when the query failed: `id` then means nothing
  ULONG id = 0;
  std::wstring user_sid;  // the client's account ("S-1-5-..."); empty when it cannot be read
};

// An update staged and not yet started.
struct StagedUpdate {
  std::wstring token;
  std::wstring package;  // its name in Incoming and in the staging folder
};

// What the service knows of the updates it staged and started, shared by the work of the
// pipe's requests and the automatic updates; whoever changes it holds `busy`.
struct UpdateState {
  std::mutex busy;
  UniqueHandle installer;  // installer mode of the latest update, while the service runs
  // At most one staged update per session, by the id of the session whose client asked for
  // it: only that session's next request replaces it, and only its clients may start it, so
  // that a user of one session can neither drop nor start another session's update.
  std::map<ULONG, StagedUpdate> staged;
  // The staging folders still needed, shared with the housekeeping thread, which removes the
  // others: this side never removes a staging folder itself.
  std::shared_ptr<StagingLedger> ledger = std::make_shared<StagingLedger>();
  // What the service's start found of its folders and its own files.
  RoadTrust trust;
  // What the service knows of the next update: the package ready in Incoming, as the request
  // to stage it found it, is noted there.
  std::shared_ptr<CheckBoard> board = std::make_shared<CheckBoard>();
};

// The answer to one request line (without its line end): "status" and "check-for-update" as
// AnswerFromBoard; "apply-pending-update" takes the
// newest package in Incoming, stages it (staging.h) and answers "staged <token>";
// "start <token>" from a client of the session it was staged for starts installer mode from
// that staged copy, once, and answers "started <token>". A request to stage first drops the
// update its session staged before, whose folder the housekeeping thread removes, and stages
// afresh. Anything else, a client whose session or account is unknown
// (a failed query leaves 0, the services' session, which must not pass for a user's), folders
// or own files that are not the service's own (`state.trust`), or a step that fails gets
// "refused: <reason>". Each step is noted in `log`.
// The answer to "status" and "check-for-update": what `board` shows; the second also asks it
// for a check. Needs neither the client's identity nor the folders: it reads nothing on disk.
[[nodiscard]] std::string AnswerFromBoard(const Request& request, const CheckBoard& board);

[[nodiscard]] std::string AnswerRequest(const std::string& line, bool well_formed,
                                        const ClientSession& client, UpdateState& state,
                                        const ServiceLog& log);

// The service's own update, with nobody asking: stages the pending package as
// "apply-pending-update" would and starts installer mode from it at once, with no watcher,
// for the services' session and LocalSystem; "started <token>" or "refused: <reason>", as a
// client would be answered. The caller holds `state.busy`.
[[nodiscard]] std::string ApplyPendingUpdateUnattended(UpdateState& state, const ServiceLog& log);

}  // namespace road
