#include "win/pipe_io.h"

namespace road {

namespace {

// A fresh OVERLAPPED whose completion signals `io_event`, reset first so that a signal left
// from the operation before is not taken for this one's.
OVERLAPPED OverlappedOn(HANDLE io_event) noexcept {
  (void)::ResetEvent(io_event);
  OVERLAPPED overlapped = {};
  overlapped.hEvent = io_event;
  return overlapped;
}

// Waits for the operation begun with `overlapped`, whose call failed with `begin_error`
// (ERROR_SUCCESS when it completed at once). False when `stop` (if not null) came first, the
// time ran out or the operation failed; an operation still under way is cancelled and waited
// for, since the OVERLAPPED lives on the caller's stack.
[[nodiscard]] bool FinishPipeIo(HANDLE pipe, OVERLAPPED& overlapped, DWORD begin_error, HANDLE stop,
                                DWORD timeout_ms, DWORD& bytes) noexcept {
  if (begin_error != ERROR_SUCCESS && begin_error != ERROR_IO_PENDING) return false;
  const HANDLE events[] = {overlapped.hEvent, stop};
  const DWORD count = stop != nullptr ? 2 : 1;
  if (::WaitForMultipleObjects(count, events, /*wait_all=*/FALSE, timeout_ms) != WAIT_OBJECT_0) {
    (void)::CancelIo(pipe);
    (void)::GetOverlappedResult(pipe, &overlapped, &bytes, /*wait=*/TRUE);
    return false;
  }
  return ::GetOverlappedResult(pipe, &overlapped, &bytes, /*wait=*/FALSE) != FALSE;
}

}  // namespace

bool ConnectPipeClient(HANDLE pipe, HANDLE io_event, HANDLE stop) noexcept {
  OVERLAPPED overlapped = OverlappedOn(io_event);
  const BOOL begun = ::ConnectNamedPipe(pipe, &overlapped);
  const DWORD error = begun ? ERROR_SUCCESS : ::GetLastError();
  // A client that came between the creation of the pipe and this call is connected already.
  if (error == ERROR_PIPE_CONNECTED) return true;
  DWORD bytes = 0;
  return FinishPipeIo(pipe, overlapped, error, stop, INFINITE, bytes);
}

bool ReadPipe(HANDLE pipe, HANDLE io_event, HANDLE stop, DWORD timeout_ms, char* buffer, DWORD size,
              DWORD& read) noexcept {
  OVERLAPPED overlapped = OverlappedOn(io_event);
  const BOOL begun = ::ReadFile(pipe, buffer, size, /*read=*/nullptr, &overlapped);
  const DWORD error = begun ? ERROR_SUCCESS : ::GetLastError();
  read = 0;
  return FinishPipeIo(pipe, overlapped, error, stop, timeout_ms, read);
}

bool WritePipe(HANDLE pipe, HANDLE io_event, HANDLE stop, DWORD timeout_ms,
               const std::string& bytes) noexcept {
  OVERLAPPED overlapped = OverlappedOn(io_event);
  const DWORD size = static_cast<DWORD>(bytes.size());
  const BOOL begun = ::WriteFile(pipe, bytes.data(), size, /*written=*/nullptr, &overlapped);
  const DWORD error = begun ? ERROR_SUCCESS : ::GetLastError();
  DWORD written = 0;
  return FinishPipeIo(pipe, overlapped, error, stop, timeout_ms, written) && written == size;
}

}  // namespace road
