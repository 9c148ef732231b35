#include "service/update_pipe.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "contract/access_lists.h"
#include "contract/pipe_protocol.h"
#include "contract/road_contract.h"
#include "service/update_requests.h"
#include "win/client_identity.h"
#include "win/machine_registry.h"
#include "win/pipe_io.h"
#include "win/road_handles.h"
#include "win/security_descriptor.h"
#include "win/text_conversion.h"
#include "win/work_thread.h"

namespace road {

namespace {

// What the pipe thread works with: its own handles, and the service's stop and log.
struct PipeChannel {
  HANDLE pipe;
  HANDLE io_event;
  HANDLE stop;
  const ServiceLog& log;
};

[[nodiscard]] bool IsSignalled(HANDLE event) noexcept {
  return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// False once `stop` is signalled, even with a client waiting: a stopping service takes no
// new request.
[[nodiscard]] bool WaitForClient(const PipeChannel& channel) noexcept {
  for (;;) {
    if (IsSignalled(channel.stop)) return false;
    if (ConnectPipeClient(channel.pipe, channel.io_event, channel.stop)) return true;
    // A client that came and went before it was served; the pause keeps a pipe that fails
    // every time from spinning.
    if (::WaitForSingleObject(channel.stop, 100) == WAIT_OBJECT_0) return false;
    (void)::DisconnectNamedPipe(channel.pipe);
  }
}

// Whether `received` is one request line: printable ASCII ended by "\n" (or "\r\n") within
// the size limit, with nothing after it. `line` is the line without its end.
[[nodiscard]] bool IsWellFormedRequest(const std::string& received, std::string& line) {
  const size_t end = received.find('\n');
  line = received.substr(0, end);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const bool printable =
      std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
  return printable && end != std::string::npos && end + 1 == received.size() &&
         received.size() <= kMaxRequestBytes;
}

// Reads one request line, until kClientTimeoutMs from now; `well_formed` as
// IsWellFormedRequest says.
std::string ReadRequest(const PipeChannel& channel, bool& well_formed) {
  std::string received;
  const ULONGLONG deadline = ::GetTickCount64() + kClientTimeoutMs;
  while (received.find('\n') == std::string::npos && received.size() <= kMaxRequestBytes) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) break;
    char chunk[128];
    DWORD read = 0;
    if (!ReadPipe(channel.pipe, channel.io_event, channel.stop, static_cast<DWORD>(deadline - now),
                  chunk, sizeof(chunk), read) ||
        read == 0) {
      break;
    }
    received.append(chunk, read);
  }
  std::string line;
  well_formed = IsWellFormedRequest(received, line);
  return line;
}

// The client's session and account; unknown, and the reason noted, when a query fails.
ClientSession ClientSessionOf(const PipeChannel& channel) {
  ClientSession session;
  session.known = ::GetNamedPipeClientSessionId(channel.pipe, &session.id) != FALSE;
  if (!session.known) {
    channel.log.Note(L"Could not read the client's session (error " +
                     std::to_wstring(::GetLastError()) + L")");
  }
  session.user_sid = PipeClientSid(channel.pipe);
  if (session.user_sid.empty()) {
    channel.log.Note(L"Could not read the client's account (error " +
                     std::to_wstring(::GetLastError()) + L")");
  }
  return session;
}

// What the requests of all clients share: their state, and the copy of the log that their work
// writes to. The thread that works out an answer holds a share of it, since it may outlive the
// pipe thread's wait for it.
struct RequestWork {
  std::shared_ptr<UpdateState> state;
  ServiceLog log;
  BeforeAnswer before_answer;
};

// The pipe thread's own refusal, when a request's work cannot give the answer in time.
std::string RefuseHere(const PipeChannel& channel, const std::string& reason) {
  const std::wstring line = L"Refused: " + WidenAscii(reason);
  channel.log.NoteRepeatable(line, line);
  return kRefusedAnswer + reason;
}

// Works out the answer to `request` on a thread of its own (`worker`) and waits for it
// kRequestWorkMs at most, whether or not a stop comes meanwhile, so that an answer that is
// ready ("started" above all) is always sent. The work reads and changes files, which a user
// may keep waiting: the pipe thread never does, and answers in time. While the work of an
// earlier request still runs, the state is that work's, and the request is refused at once.
std::string AnswerInTime(const PipeChannel& channel, const std::shared_ptr<RequestWork>& work,
                         UniqueHandle& worker, const std::string& request, bool well_formed) {
  if (worker && ::WaitForSingleObject(worker.get(), 0) == WAIT_TIMEOUT) {
    return RefuseHere(channel,
                      "the service is still busy with an earlier request; try again later");
  }
  const ClientSession client = ClientSessionOf(channel);
  auto answer = std::make_shared<std::string>();
  worker = StartWorkThread([work, answer, request, well_formed, client] {
    const std::lock_guard<std::mutex> busy(work->state->busy);
    *answer = AnswerRequest(request, well_formed, client, *work->state, work->log);
    if (work->before_answer != nullptr) work->before_answer();
  });
  if (!worker) return RefuseHere(channel, "the service could not take the request");
  if (::WaitForSingleObject(worker.get(), kRequestWorkMs) == WAIT_TIMEOUT) {
    return RefuseHere(channel, "the request took too long; try again later");
  }
  return *answer;
}

// Creates the pipe's one instance under `name`, which must be the first, then publishes the
// name for the clients; empty, with what failed in `failure`, otherwise.
UniqueHandle CreatePublishedPipe(const std::wstring& name, SECURITY_ATTRIBUTES& attributes,
                                 std::wstring& failure) {
  if (name.empty()) {
    failure = L"Could not draw a name for the update pipe";
    return nullptr;
  }
  UniqueHandle pipe = OwnHandle(::CreateNamedPipeW(
      name.c_str(), kUpdatePipeOpenMode,
      // A byte pipe in byte read mode that blocks: the zero defaults.
      PIPE_REJECT_REMOTE_CLIENTS, kUpdatePipeInstances, /*out_buffer=*/512, /*in_buffer=*/512,
      /*default_timeout=*/0, &attributes));
  const DWORD error = ::GetLastError();
  if (!pipe) {
    failure = L"Could not create the update pipe (error " + std::to_wstring(error) + L")";
    return nullptr;
  }
  const LSTATUS published = WriteMachineString(kRoadKeyPath, kUpdatePipeValueName, name);
  if (published != ERROR_SUCCESS) {
    failure =
        L"Could not publish the update pipe's name (error " + std::to_wstring(published) + L")";
    return nullptr;
  }
  return pipe;
}

// Creates the pipe's one instance under a name drawn afresh at each try, and publishes it. A
// fixed name could be taken by any process while the service is stopped, and kept to hold
// every later request off; a fresh one cannot be known before the service publishes it. Tries
// again, logging each failure, with pauses from 1 s up to 1 min, until it succeeds or `stop`
// is signalled; empty then.
UniqueHandle CreatePipeInstance(HANDLE stop, PSECURITY_DESCRIPTOR descriptor,
                                const ServiceLog& log) {
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, /*bInheritHandle=*/FALSE};
  for (DWORD pause_ms = 1000;; pause_ms = pause_ms < 60000 ? pause_ms * 2 : 60000) {
    std::wstring failure;
    UniqueHandle pipe = CreatePublishedPipe(UpdatePipeName(NewToken()), attributes, failure);
    if (pipe) return pipe;
    log.Note(failure + L"; trying again in " + std::to_wstring(pause_ms / 1000) + L" s");
    if (::WaitForSingleObject(stop, pause_ms) == WAIT_OBJECT_0) return nullptr;
  }
}

// Sends `answer` and waits until the client has read it and closed its end, both by
// kClientTimeoutMs from now; notes a client that let the time pass. A stop does not cut this
// short: the answer may be the "started" that tells a UI the update is under way, and
// installer mode, which the request started, stops the service at once. Disconnected earlier,
// the client would lose it unread, end its watcher, and nobody would open the product again.
void Deliver(const PipeChannel& channel, const std::string& answer) {
  const ULONGLONG deadline = ::GetTickCount64() + kClientTimeoutMs;
  if (!WritePipe(channel.pipe, channel.io_event, /*stop=*/nullptr, kClientTimeoutMs, answer)) {
    return;
  }
  if (WaitForHangUp(channel.pipe, channel.io_event, /*stop=*/nullptr, deadline) ==
      HangUp::kTimedOut) {
    channel.log.Note(kClientMissedDeadlineNote + std::to_wstring(kClientTimeoutMs / 1000) +
                     L" s of its answer");
  }
}

// Answers the client connected now, then disconnects it, which also closes its end: the
// handle it may keep holds neither this thread nor the pipe's name, which the service must
// create again after installer mode has restarted it. A stop that came while the request was
// read leaves it unanswered.
void ServeClient(const PipeChannel& channel, const std::shared_ptr<RequestWork>& work,
                 UniqueHandle& worker) {
  bool well_formed = false;
  const std::string request = ReadRequest(channel, well_formed);
  if (!IsSignalled(channel.stop)) {
    // Answered here, even while the work of another request runs: they read no file.
    const Request parsed = well_formed ? ParseRequest(request) : Request{};
    const bool from_board =
        parsed.kind == Request::Kind::kStatus || parsed.kind == Request::Kind::kCheck;
    Deliver(channel, (from_board ? AnswerFromBoard(parsed, *work->state->board)
                                 : AnswerInTime(channel, work, worker, request, well_formed)) +
                         "\n");
  }
  (void)::DisconnectNamedPipe(channel.pipe);
}

// Answers one client after another until `stop` is signalled.
void ServeClients(const PipeChannel& channel, BeforeAnswer before_answer,
                  std::shared_ptr<UpdateState> state) {
  auto work =
      std::make_shared<RequestWork>(RequestWork{std::move(state), channel.log, before_answer});
  UniqueHandle worker;
  while (WaitForClient(channel)) ServeClient(channel, work, worker);
}

struct PipeThreadArguments {
  UniqueHandle stop;
  ServiceLog log;
  BeforeAnswer before_answer;
  std::shared_ptr<UpdateState> state;
};

void ServeUpdatePipe(const PipeThreadArguments& arguments) {
  const ServiceLog& log = arguments.log;
  const UniqueLocal<void> descriptor = DescriptorFromSddl(kPipeSddl);
  const UniqueHandle io_event = OwnHandle(::CreateEventW(
      /*security=*/nullptr, /*manual_reset=*/TRUE, /*initial=*/FALSE, /*name=*/nullptr));
  if (!descriptor || !io_event) {
    log.Note(L"Could not prepare the update pipe (error " + std::to_wstring(::GetLastError()) +
             L")");
    return;
  }
  const HANDLE stop = arguments.stop.get();
  const UniqueHandle pipe = CreatePipeInstance(stop, descriptor.get(), log);
  if (!pipe) return;
  log.Note(L"Serving the update pipe");
  ServeClients({pipe.get(), io_event.get(), stop, log}, arguments.before_answer, arguments.state);
}

}  // namespace

UniqueHandle StartUpdatePipeThread(HANDLE stop, const ServiceLog& log, BeforeAnswer before_answer,
                                   std::shared_ptr<UpdateState> state) noexcept {
  UniqueHandle own_stop = DuplicateOwnHandle(stop);
  if (!own_stop || !state || !state->ledger || !state->board) return nullptr;
  auto arguments = std::make_shared<PipeThreadArguments>(
      PipeThreadArguments{std::move(own_stop), log, before_answer, std::move(state)});
  return StartWorkThread([arguments] { ServeUpdatePipe(*arguments); });
}

bool WaitForUpdatePipeThread(HANDLE thread, const ServiceLog& log, StopProgress progress) {
  for (DWORD waited = 0; waited < kPipeThreadStopWaitMs; waited += 1000) {
    if (::WaitForSingleObject(thread, 1000) != WAIT_TIMEOUT) return true;
    if (progress != nullptr) progress();
  }
  log.Note(kPipeThreadLeftRunningNote + std::to_wstring(kPipeThreadStopWaitMs / 1000) +
           L" s of the stop; the service stops without it");
  return false;
}

}  // namespace road
