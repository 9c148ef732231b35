#include "win/pipe_io.h"

namespace road {

namespace {

// How the wait for one operation ended.
enum class IoEnd { kCompleted, kStopped, kTimedOut, kFailed };

// A fresh OVERLAPPED whose completion signals `io_event`, reset first so that a signal left
// from the operation before is not taken for this one's.
OVERLAPPED OverlappedOn(HANDLE io_event) noexcept {
  (void)::ResetEvent(io_event);
  OVERLAPPED overlapped = {};
  overlapped.hEvent = io_event;
  return overlapped;
}

// Waits for the operation begun with `overlapped`, whose call failed with `begin_error`
// (ERROR_SUCCESS when it completed at once), until `stop` (if not null) or `timeout_ms`. An
// operation still under way then is cancelled and waited for, since the OVERLAPPED lives on
// the caller's stack.
[[nodiscard]] IoEnd FinishPipeIo(HANDLE pipe, OVERLAPPED& overlapped, DWORD begin_error,
                                 HANDLE stop, DWORD timeout_ms, DWORD& bytes) noexcept {
  if (begin_error != ERROR_SUCCESS && begin_error != ERROR_IO_PENDING) return IoEnd::kFailed;
  const HANDLE events[] = {overlapped.hEvent, stop};
  const DWORD count = stop != nullptr ? 2 : 1;
  const DWORD waited = ::WaitForMultipleObjects(count, events, /*wait_all=*/FALSE, timeout_ms);
  if (waited != WAIT_OBJECT_0) {
    (void)::CancelIo(pipe);
    (void)::GetOverlappedResult(pipe, &overlapped, &bytes, /*wait=*/TRUE);
    if (waited == WAIT_OBJECT_0 + 1) return IoEnd::kStopped;
    return waited == WAIT_TIMEOUT ? IoEnd::kTimedOut : IoEnd::kFailed;
  }
  const BOOL done = ::GetOverlappedResult(pipe, &overlapped, &bytes, /*wait=*/FALSE);
  return done ? IoEnd::kCompleted : IoEnd::kFailed;
}

// Begins a read of up to `size` bytes into `buffer` and waits for it as FinishPipeIo does.
[[nodiscard]] IoEnd ReadWithin(HANDLE pipe, HANDLE io_event, HANDLE stop, DWORD timeout_ms,
                               char* buffer, DWORD size, DWORD& read) noexcept {
  OVERLAPPED overlapped = OverlappedOn(io_event);
  const BOOL begun = ::ReadFile(pipe, buffer, size, /*read=*/nullptr, &overlapped);
  const DWORD error = begun ? ERROR_SUCCESS : ::GetLastError();
  read = 0;
  return FinishPipeIo(pipe, overlapped, error, stop, timeout_ms, read);
}

}  // namespace

bool ConnectPipeClient(HANDLE pipe, HANDLE io_event, HANDLE stop) noexcept {
  OVERLAPPED overlapped = OverlappedOn(io_event);
  const BOOL begun = ::ConnectNamedPipe(pipe, &overlapped);
  const DWORD error = begun ? ERROR_SUCCESS : ::GetLastError();
  // A client that came between the creation of the pipe and this call is connected already.
  if (error == ERROR_PIPE_CONNECTED) return true;
  DWORD bytes = 0;
  return FinishPipeIo(pipe, overlapped, error, stop, INFINITE, bytes) == IoEnd::kCompleted;
}

bool ReadPipe(HANDLE pipe, HANDLE io_event, HANDLE stop, DWORD timeout_ms, char* buffer, DWORD size,
              DWORD& read) noexcept {
  return ReadWithin(pipe, io_event, stop, timeout_ms, buffer, size, read) == IoEnd::kCompleted;
}

bool WritePipe(HANDLE pipe, HANDLE io_event, HANDLE stop, DWORD timeout_ms,
               const std::string& bytes) noexcept {
  OVERLAPPED overlapped = OverlappedOn(io_event);
  const DWORD size = static_cast<DWORD>(bytes.size());
  const BOOL begun = ::WriteFile(pipe, bytes.data(), size, /*written=*/nullptr, &overlapped);
  const DWORD error = begun ? ERROR_SUCCESS : ::GetLastError();
  DWORD written = 0;
  return FinishPipeIo(pipe, overlapped, error, stop, timeout_ms, written) == IoEnd::kCompleted &&
         written == size;
}

HangUp WaitForHangUp(HANDLE pipe, HANDLE io_event, HANDLE stop, ULONGLONG deadline) noexcept {
  for (;;) {
    // Checked before every read, so that a client that keeps sending cannot outlast it.
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return HangUp::kTimedOut;
    char dropped[64];
    DWORD read = 0;
    switch (ReadWithin(pipe, io_event, stop, static_cast<DWORD>(deadline - now), dropped,
                       sizeof(dropped), read)) {
      case IoEnd::kCompleted:
        continue;
      case IoEnd::kStopped:
        return HangUp::kStopped;
      case IoEnd::kTimedOut:
        return HangUp::kTimedOut;
      case IoEnd::kFailed:
        // ERROR_BROKEN_PIPE once the client has closed its end; any other failure leaves
        // nobody to wait for either.
        return HangUp::kClosed;
    }
  }
}

}  // namespace road
