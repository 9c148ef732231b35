// The service's end of the update channel, the pipe \\.\pipe\CorvantaRemoteUpdate-<GUID> whose
// name it draws at every start and publishes (road_contract.h).
#pragma once

#include <windows.h>

#include <memory>

#include "service/service_log.h"
#include "service/update_requests.h"
#include "shared/unique_handles.h"

namespace road {

// Each client's deadline: it has this long from its connection to send its request line, and
// as long again from the moment its answer is ready to read it and close its end. The pipe
// thread waits on a client no longer: one that sends and never reads holds the channel 10 s
// at most besides the work its request asks for, not until it lets go.
inline constexpr DWORD kClientTimeoutMs = 5000;

// How long a stopping service waits for the pipe thread. A stop ends the thread's waits for a
// client and its request at once; an answer already formed is still delivered, within the
// client's deadline. So the thread ends within the work of a request under way (staging copies
// and hashes a package) and kClientTimeoutMs after it. Installer mode waits 30 s for the
// service to stop before it gives up on the update, so the service stops waiting well before
// and reports STOPPED anyway.
inline constexpr DWORD kPipeThreadStopWaitMs = 10000;
static_assert(kClientTimeoutMs < kPipeThreadStopWaitMs,
              "an answer delivered through a stop must end within the stop's wait for the thread");

// The service's log lines for a client disconnected at its deadline, and for a stop that did
// not wait for the pipe thread to end; each followed by the time in seconds and the rest.
inline constexpr wchar_t kClientMissedDeadlineNote[] =
    L"Disconnected a client that did not close the pipe within ";
inline constexpr wchar_t kPipeThreadLeftRunningNote[] =
    L"The update pipe's thread did not end within ";

// How the service makes its pipe: the first instance of its name or none, so that it never
// serves behind a process that took the name, and one instance only, so that nobody adds one.
inline constexpr DWORD kUpdatePipeOpenMode =
    PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE;
inline constexpr DWORD kUpdatePipeInstances = 1;

// How long the pipe thread waits for the work of one request (staging copies and hashes a
// package, which takes seconds, not tens of them) before it refuses it: well within the UI's
// wait for an answer (kAnswerTimeoutMs), so that a user who keeps a file of the road waiting
// costs the client a refusal, not its silence.
inline constexpr DWORD kRequestWorkMs = 30000;

// Called on the thread that works out each answer, after the answer is formed and before the
// pipe thread sends it; may be null.
using BeforeAnswer = void (*)();

// Starts a thread that serves the pipe until `stop` is signalled: one client at a time, one
// request line, one answer line (update_requests.h), worked out within kRequestWorkMs on a
// thread of its own while it holds `state`'s busy lock, each step noted in `log`, each client
// disconnected at its deadline (kClientTimeoutMs), or at `stop` while it has no answer yet: an
// answer formed is delivered, and its client waited for, until the deadline even through a
// stop. A client disconnected loses what it has not read. The thread keeps its own duplicate of
// `stop`, its own copy of `log` and a share of `state`, so a caller may stop waiting for it
// (WaitForUpdatePipeThread). "status" and "check-for-update" are answered at once from
// `state.board`, even while the work of another request runs; the second also asks the board
// for a check. Empty when it cannot start.
[[nodiscard]] UniqueHandle StartUpdatePipeThread(HANDLE stop, const ServiceLog& log,
                                                 BeforeAnswer before_answer,
                                                 std::shared_ptr<UpdateState> state) noexcept;

// Called about once a second while WaitForUpdatePipeThread waits; may be null.
using StopProgress = void (*)();

// After `stop` was signalled: waits for the pipe thread `thread` to end, at most
// kPipeThreadStopWaitMs, calling `progress` meanwhile (a STOP_PENDING checkpoint). False,
// noted in `log`, when it gave up: the thread then runs on until the process ends.
[[nodiscard]] bool WaitForUpdatePipeThread(HANDLE thread, const ServiceLog& log,
                                           StopProgress progress);

}  // namespace road
