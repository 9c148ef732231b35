// The client's end of the update pipe, as the UI program (and the drivers and tests, in the
// UI's place) use it.
#pragma once

#include <windows.h>

#include <string>

namespace road {

// How long the UI waits for the pipe and for each answer. Staging copies and hashes a package,
// which takes seconds on a slow disk, not minutes.
inline constexpr DWORD kAnswerTimeoutMs = 60000;
// How long the UI waits for a status answer, which the service gives at once: a service that
// takes longer is shown as not answering until the next poll.
inline constexpr DWORD kStatusTimeoutMs = 5000;

// The start of every answer that the client makes up itself when the service gave none.
inline constexpr char kNoAnswer[] = "no answer: ";

// How the UI opens its end of the pipe: overlapped, and with its quality of service stated so
// that the server may identify the user but never act as the user. Without
// SECURITY_SQOS_PRESENT the server could impersonate the client fully: a squatter that took
// the pipe's name while the service was stopped would then act in the user's name.
inline constexpr DWORD kUpdatePipeOpenFlags =
    FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// What the UI asks of its end of the pipe: FILE_WRITE_DATA, not GENERIC_WRITE, since the pipe
// grants users no more (GENERIC_WRITE would ask for FILE_CREATE_PIPE_INSTANCE too, and every
// user's open would be denied).
inline constexpr DWORD kUpdatePipeAccess = GENERIC_READ | FILE_WRITE_DATA;

// What a pipe's server may do with the identity of a client that opened its end with
// `open_flags`, by Windows' rule: the level those flags name once SECURITY_SQOS_PRESENT is
// among them, else full impersonation.
[[nodiscard]] constexpr SECURITY_IMPERSONATION_LEVEL ImpersonationGrantedBy(
    DWORD open_flags) noexcept {
  if ((open_flags & SECURITY_SQOS_PRESENT) == 0) return SecurityImpersonation;
  return static_cast<SECURITY_IMPERSONATION_LEVEL>((open_flags & SECURITY_DELEGATION) >> 16);
}

// The update pipe's name as the service published it at its last start (kUpdatePipeValueName),
// unchecked; empty when there is none.
[[nodiscard]] std::wstring PublishedUpdatePipeName();

// Sends `request` through the update pipe exactly as given and returns the service's answer up
// to and including its line end; when there is none, kNoAnswer and why. It opens only a
// published name of the shape the service makes (IsUpdatePipeName), and before it sends
// anything it checks that the pipe is served by the service's own process: while the service
// is stopped (installer mode stops it at every update) any process could take the name it
// published last and answer in its place. Gives up after `timeout_ms` in all. The service may
// identify the client, and do nothing in its name.
[[nodiscard]] std::string ExchangeWithService(const std::string& request,
                                              DWORD timeout_ms = kAnswerTimeoutMs);

// What the service knows of the next update: its answer to "status" (a status line, which
// ParseStatusAnswer reads), or kNoAnswer and why, within `timeout_ms`.
[[nodiscard]] std::string QueryUpdateProgress(DWORD timeout_ms = kStatusTimeoutMs);

// Asks the service to look for an update now; it answers at once with what it knows, as to
// QueryUpdateProgress, and checks in the background.
[[nodiscard]] std::string RequestUpdateCheck(DWORD timeout_ms = kStatusTimeoutMs);

}  // namespace road
