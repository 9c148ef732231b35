// The client's end of the update pipe, as the UI program (and the drivers and tests, in the
// UI's place) use it.
#pragma once

#include <windows.h>

#include <string>

#include "contract/road_contract.h"

namespace road {

// How long the UI waits for the pipe and for each answer. Staging copies and hashes a package,
// which takes seconds on a slow disk, not minutes.
inline constexpr DWORD kAnswerTimeoutMs = 60000;

// Sends `request` through the update pipe exactly as given and returns the service's answer up
// to and including its line end; when there is none, "no answer: " and why. Before it sends
// anything it checks that the pipe is served by the service's own process: while the service
// is stopped (installer mode stops it at every update) any process could take the pipe's name
// and answer in its place. Gives up after `timeout_ms` in all. The service may identify the
// client, and do nothing in its name.
inline std::string ExchangeWithService(const std::string& request,
                                       DWORD timeout_ms = kAnswerTimeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    const auto time_left = [deadline] {
        const ULONGLONG now = GetTickCount64();
        return now >= deadline ? DWORD{0} : static_cast<DWORD>(deadline - now);
    };
    UniqueHandle pipe;
    // The one instance serves one client at a time: a busy pipe is waited for.
    while (!pipe) {
        // FILE_WRITE_DATA, not GENERIC_WRITE: the pipe grants users no more (GENERIC_WRITE
        // would ask for FILE_CREATE_PIPE_INSTANCE too and be denied).
        pipe = OwnHandle(CreateFileW(kUpdatePipeName, GENERIC_READ | FILE_WRITE_DATA, 0, nullptr,
                                     OPEN_EXISTING,
                                     FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT |
                                         SECURITY_IDENTIFICATION,
                                     nullptr));
        const DWORD error = GetLastError();
        if (!pipe && error != ERROR_PIPE_BUSY) {
            return "no answer: the update service cannot be reached (error " +
                   std::to_string(error) + ")";
        }
        if (!pipe && time_left() == 0) return "no answer: the update service is busy";
        if (!pipe) WaitNamedPipeW(kUpdatePipeName, time_left() < 100 ? time_left() : 100);
    }
    ULONG server = 0;
    const SERVICE_STATUS_PROCESS status = ServiceStatus();
    const DWORD service = status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;
    if (!GetNamedPipeServerProcessId(pipe.get(), &server) || service == 0 || server != service) {
        return "no answer: the pipe is not served by the update service (server pid " +
               std::to_string(server) + ", service pid " + std::to_string(service) + ")";
    }
    const UniqueHandle io_event = OwnHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!io_event) return "no answer: no event to wait on";
    OVERLAPPED overlapped = {};
    overlapped.hEvent = io_event.get();
    DWORD written = 0;
    const BOOL write_begun = WriteFile(pipe.get(), request.data(),
                                       static_cast<DWORD>(request.size()), nullptr, &overlapped);
    if (!FinishPipeIo(pipe.get(), overlapped, write_begun, nullptr, time_left(), written)) {
        return "no answer: the request could not be sent (error " +
               std::to_string(GetLastError()) + ")";
    }
    std::string answer;
    char chunk[128];
    while (answer.find('\n') == std::string::npos && answer.size() < 1024) {
        overlapped = {};
        overlapped.hEvent = io_event.get();
        ResetEvent(io_event.get());
        DWORD read = 0;
        const BOOL read_begun = ReadFile(pipe.get(), chunk, sizeof(chunk), nullptr, &overlapped);
        if (!FinishPipeIo(pipe.get(), overlapped, read_begun, nullptr, time_left(), read) ||
            read == 0) {
            if (time_left() == 0) return "no answer: the update service did not answer in time";
            break;
        }
        answer.append(chunk, read);
    }
    const size_t end = answer.find('\n');
    return end == std::string::npos ? "no answer: the service closed the channel"
                                    : answer.substr(0, end + 1);
}

}  // namespace road
