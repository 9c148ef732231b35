#include "service/update_pipe.h"

#include <memory>
#include <new>
#include <string>

#include "service/pending_update.h"
#include "contract/road_contract.h"

namespace road {

namespace {

// A client gets this long to send its request and take the answer, so that one that sends
// nothing cannot hold the channel.
constexpr DWORD kClientTimeoutMs = 5000;

// False once `stop` is signalled.
bool WaitForClient(HANDLE pipe, HANDLE io_event, HANDLE stop) {
    for (;;) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = io_event;
        ResetEvent(io_event);
        const BOOL begun = ConnectNamedPipe(pipe, &overlapped);
        const DWORD error = GetLastError();
        if (!begun && error == ERROR_PIPE_CONNECTED) return true;
        DWORD bytes = 0;
        if (FinishPipeIo(pipe, overlapped, begun, stop, INFINITE, bytes)) return true;
        // A client that came and went before it was served; the pause keeps a pipe that
        // fails every time from spinning.
        if (WaitForSingleObject(stop, 100) == WAIT_OBJECT_0) return false;
        DisconnectNamedPipe(pipe);
    }
}

// Reads one request line. `well_formed` is true for printable ASCII ended by "\n" (or
// "\r\n") within the size limit, with nothing after it; the line is returned without its end.
std::string ReadRequest(HANDLE pipe, HANDLE io_event, HANDLE stop, bool& well_formed) {
    std::string received;
    const ULONGLONG deadline = GetTickCount64() + kClientTimeoutMs;
    while (received.find('\n') == std::string::npos && received.size() <= kMaxRequestBytes) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        char chunk[128];
        OVERLAPPED overlapped = {};
        overlapped.hEvent = io_event;
        ResetEvent(io_event);
        const BOOL begun = ReadFile(pipe, chunk, sizeof(chunk), nullptr, &overlapped);
        DWORD read = 0;
        if (!FinishPipeIo(pipe, overlapped, begun, stop, static_cast<DWORD>(deadline - now), read) ||
            read == 0) {
            break;
        }
        received.append(chunk, read);
    }
    const size_t end = received.find('\n');
    std::string line = received.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    bool printable = true;
    for (const char c : line) printable = printable && c >= 0x20 && c <= 0x7e;
    well_formed = end != std::string::npos && end + 1 == received.size() &&
                  received.size() <= kMaxRequestBytes && printable;
    return line;
}

void WriteAnswer(HANDLE pipe, HANDLE io_event, HANDLE stop, const std::string& answer) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = io_event;
    ResetEvent(io_event);
    const BOOL begun = WriteFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), nullptr,
                                 &overlapped);
    DWORD written = 0;
    if (FinishPipeIo(pipe, overlapped, begun, stop, kClientTimeoutMs, written)) FlushFileBuffers(pipe);
}

// Creates the pipe's one instance, which must be the first: while the service was stopped
// another process may have taken the name, and the service does not serve behind it. Tries
// again, logging each failure, with pauses from 1 s up to 1 min, until it succeeds or `stop`
// is signalled; empty then.
UniqueHandle CreatePipeInstance(HANDLE stop, PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, /*bInheritHandle=*/FALSE};
    for (DWORD pause_ms = 1000;; pause_ms = pause_ms < 60000 ? pause_ms * 2 : 60000) {
        UniqueHandle pipe = OwnHandle(CreateNamedPipeW(
            kUpdatePipeName,
            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
            /*max_instances=*/1, /*out_buffer=*/512, /*in_buffer=*/512, /*default_timeout=*/0,
            descriptor ? &attributes : nullptr));
        if (pipe) return pipe;
        const DWORD error = GetLastError();
        NoteInServiceLog(L"Could not create the update pipe (error " + std::to_wstring(error) +
                         L"); trying again in " + std::to_wstring(pause_ms / 1000) + L" s");
        if (WaitForSingleObject(stop, pause_ms) == WAIT_OBJECT_0) return nullptr;
    }
}

struct PipeThreadArguments {
    HANDLE stop;
    BeforeAnswer before_answer;
};

DWORD WINAPI ServeUpdatePipe(void* raw_arguments) {
    const std::unique_ptr<PipeThreadArguments> arguments(
        static_cast<PipeThreadArguments*>(raw_arguments));
    const HANDLE stop = arguments->stop;
    const UniqueLocal<void> descriptor = DescriptorFromSddl(kPipeSddl);
    const UniqueHandle io_event = OwnHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!descriptor || !io_event) {
        NoteInServiceLog(L"Could not prepare the update pipe (error " +
                         std::to_wstring(GetLastError()) + L")");
        return 1;
    }
    const UniqueHandle pipe = CreatePipeInstance(stop, descriptor.get());
    if (!pipe) return 0;
    NoteInServiceLog(L"Serving the update pipe");
    UpdateState state;
    while (WaitForClient(pipe.get(), io_event.get(), stop)) {
        bool well_formed = false;
        const std::string request = ReadRequest(pipe.get(), io_event.get(), stop, well_formed);
        ULONG session = 0;
        GetNamedPipeClientSessionId(pipe.get(), &session);
        std::string answer = AnswerRequest(request, well_formed, session, state) + "\n";
        if (arguments->before_answer != nullptr) arguments->before_answer();
        WriteAnswer(pipe.get(), io_event.get(), stop, answer);
        DisconnectNamedPipe(pipe.get());
    }
    return 0;
}

}  // namespace

UniqueHandle StartUpdatePipeThread(HANDLE stop, BeforeAnswer before_answer) noexcept {
    auto* arguments = new (std::nothrow) PipeThreadArguments{stop, before_answer};
    if (arguments == nullptr) return nullptr;
    UniqueHandle thread = OwnHandle(CreateThread(nullptr, 0, ServeUpdatePipe, arguments, 0, nullptr));
    if (!thread) delete arguments;
    return thread;
}

}  // namespace road
