// Overlapped operations on a named pipe, each waited for with a time limit and, on the
// service's side, an event that stops it. Each takes `io_event`, a manual-reset event of the
// caller's that no other operation uses at the same time.
#pragma once

#include <windows.h>

#include <string>

namespace road {

// Waits until a client connects to the server end `pipe`; false once `stop` is signalled or
// the connection failed.
[[nodiscard]] bool ConnectPipeClient(HANDLE pipe, HANDLE io_event, HANDLE stop) noexcept;

// Reads what `pipe` has, up to `size` bytes, into `buffer`; `read` is how many came. False when
// `stop` (if not null) came first, `timeout_ms` ran out (the read is then cancelled) or the
// read failed.
[[nodiscard]] bool ReadPipe(HANDLE pipe, HANDLE io_event, HANDLE stop, DWORD timeout_ms,
                            char* buffer, DWORD size, DWORD& read) noexcept;

// Writes `bytes` to `pipe`; false, as ReadPipe, when it was not written whole. A write
// completes once the bytes are in the pipe's buffer, not once the other end has read them.
[[nodiscard]] bool WritePipe(HANDLE pipe, HANDLE io_event, HANDLE stop, DWORD timeout_ms,
                             const std::string& bytes) noexcept;

// How the wait for a client to close its end ended.
enum class HangUp { kClosed, kStopped, kTimedOut };

// Waits until the client has closed its end of the server end `pipe`, as it does once it has
// read its answer (FlushFileBuffers would wait for the read with no limit at all); what it
// sends meanwhile is read and dropped. Gives up, cancelling the read, when `stop` (if not
// null) is signalled or at `deadline` on the GetTickCount64 clock.
[[nodiscard]] HangUp WaitForHangUp(HANDLE pipe, HANDLE io_event, HANDLE stop,
                                   ULONGLONG deadline) noexcept;

}  // namespace road
