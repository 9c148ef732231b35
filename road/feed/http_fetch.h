// The service's GET over WinHTTP: synchronous, through the system's proxy, https only (or http
// to 127.0.0.1 for tests), every redirect judged before it is followed, every wait bounded.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace road {

struct FetchOutcome {
  enum class Kind { kDone, kRetry, kRefused, kStopped } kind = Kind::kRetry;
  std::optional<std::uint64_t> retry_after_s;  // a 503/429's Retry-After, seconds
  std::string why;  // printable ASCII, for the log and the UI: "the server answered 404"
};

// How long a fetch waits for each step. The receive time-out bounds each wait for the answer
// or for the next bytes of a body, so a stalled body ends after it.
struct FetchTimeouts {
  int resolve_ms = 30'000;
  int connect_ms = 30'000;
  int send_ms = 30'000;
  int receive_ms = 30'000;
};

// What a server said before the body of a 2xx answer.
struct ResponseHead {
  unsigned status = 0;
  std::optional<std::uint64_t> content_length;
  std::optional<std::uint64_t> range_start;  // where a 206's Content-Range starts
};

// What a fetch does with a 2xx answer. `accept_head` sees its head and returns an empty text to
// take the body, or why it refuses it; `take` is handed each piece of the body as it arrives
// and returns an empty text, or why it refuses the rest. A refusal ends the fetch as kRefused.
struct BodyReceiver {
  std::function<std::string(const ResponseHead&)> accept_head;
  std::function<std::string(std::string_view piece)> take;
};

// GETs `url`, from byte `range_from` on (a Range request) when it is not 0, and hands a 2xx
// answer to `receiver`. Redirects are followed, at most 5, each only to an address
// ResolveRedirectUrl allows. kDone once the whole body was taken; kRetry for network errors,
// time-outs, a body cut short, 5xx, 408 and 429 (with its Retry-After); kRefused for other
// answers, a refused address or redirect, a TLS certificate that does not check out, and a
// receiver's refusal; kStopped when `stop` (an event, or null) is set, within about a second.
[[nodiscard]] FetchOutcome FetchBody(const std::wstring& url, std::uint64_t range_from, HANDLE stop,
                                     const FetchTimeouts& timeouts, const BodyReceiver& receiver);

// GET `url` whole into `body`; a body over `max_bytes` is refused. `stop` (an event) ends
// the fetch within about a second when set.
[[nodiscard]] FetchOutcome FetchSmall(const std::wstring& url, std::size_t max_bytes, HANDLE stop,
                                      std::string& body);

// The outcome of a non-2xx answer `status`: kRetry for 5xx, 408 and 429, with `retry_after_s`
// kept; kRefused for anything else ("the server answered 404"). Pure.
[[nodiscard]] FetchOutcome JudgeHttpStatus(unsigned status,
                                           std::optional<std::uint64_t> retry_after_s);

// The outcome of a failed WinHTTP call with `error`: kRefused for a TLS certificate or
// protocol error and an address WinHTTP cannot read, kRetry for everything else a network can
// do (time-outs, refused or dropped connections, names that do not resolve). Pure.
[[nodiscard]] FetchOutcome JudgeWinHttpError(DWORD error);

// Retry-After in delta-seconds ("120"); none for a date or anything else. Pure.
[[nodiscard]] std::optional<std::uint64_t> ParseRetryAfter(std::wstring_view text) noexcept;

// The first byte of a Content-Range ("bytes 100-199/200" gives 100); none when the text is not
// of that form. Pure.
[[nodiscard]] std::optional<std::uint64_t> ParseContentRangeStart(std::wstring_view text) noexcept;

}  // namespace road
