// The service's half of the road: what it answers to each request on the update pipe, and
// what it remembers between the requests of one update.
#pragma once

#include <windows.h>

#include <string>

#include "service/service_log.h"
#include "shared/unique_handles.h"

namespace road {

// The session of the client at the other end of the pipe, as GetNamedPipeClientSessionId
// found it.
struct ClientSession {
  bool known = false;  // false when the query failed: `id` then means nothing
  ULONG id = 0;
};

// What the service knows of the updates it staged and started.
struct UpdateState {
  UniqueHandle installer;     // installer mode of the latest update, while the service runs
  std::wstring staged_token;  // the update staged last and not yet started; empty if none
  std::wstring staged_package;
  ClientSession staged_for;  // the session of the client it was staged for
};

// Whether `client` may start an update staged for `staged_for`: only when both sessions are
// known and the same. A failed query leaves 0, which is also the services' session, so an
// unknown session never matches, not even another unknown one.
[[nodiscard]] bool SameSession(const ClientSession& client,
                               const ClientSession& staged_for) noexcept;

// The answer to one request line (without its line end): "apply-pending-update" takes the
// newest package in Incoming, stages it (staging.h) and answers "staged <token>";
// "start <token>" from a client of the session it was staged for starts installer mode from
// that staged copy, once, and answers "started <token>". Anything else, a client whose
// session is unknown, folders that are not the service's own (`log`), or a step that fails
// gets "refused: <reason>". Each step is noted in `log`.
[[nodiscard]] std::string AnswerRequest(const std::string& line, bool well_formed,
                                        const ClientSession& client, UpdateState& state,
                                        const ServiceLog& log);

}  // namespace road
