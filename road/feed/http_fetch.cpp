#include "feed/http_fetch.h"

#include <windows.h>

#include <winhttp.h>

#include <atomic>
#include <memory>
#include <vector>

#include "feed/feed_url.h"

namespace road {

namespace {

constexpr wchar_t kUserAgent[] = L"CorvantaRemoteUpdate/1";
constexpr int kMaxRedirects = 5;
constexpr DWORD kReadChunk = 64 * 1024;

struct InternetCloser {
  void operator()(HINTERNET handle) const noexcept { ::WinHttpCloseHandle(handle); }
};
// A WinHTTP session, connection or request.
using UniqueInternet = std::unique_ptr<void, InternetCloser>;

// Closes a request's handle once `stop` is set: the documented way to end a synchronous
// WinHTTP call that waits on the network. Its end waits for a running callback, and leaves
// the handle to its owner unless the callback closed it.
class CancelOnStop {
 public:
  CancelOnStop(HANDLE stop, UniqueInternet& request) noexcept : request_(request) {
    if (stop != nullptr && !::RegisterWaitForSingleObject(&wait_, stop, &CancelOnStop::OnStop, this,
                                                          INFINITE, WT_EXECUTEONLYONCE)) {
      wait_ = nullptr;  // then the stop is seen between reads only
    }
  }
  ~CancelOnStop() {
    if (wait_ != nullptr) (void)::UnregisterWaitEx(wait_, /*completion=*/INVALID_HANDLE_VALUE);
    if (closed_) (void)request_.release();
  }
  CancelOnStop(const CancelOnStop&) = delete;
  CancelOnStop& operator=(const CancelOnStop&) = delete;

 private:
  static void CALLBACK OnStop(void* context, BOOLEAN /*timed_out*/) noexcept {
    auto* self = static_cast<CancelOnStop*>(context);
    self->closed_ = true;
    ::WinHttpCloseHandle(self->request_.get());
  }

  UniqueInternet& request_;
  HANDLE wait_ = nullptr;
  std::atomic<bool> closed_{false};
};

[[nodiscard]] bool IsSet(HANDLE stop) noexcept {
  return stop != nullptr && ::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
}

FetchOutcome FetchResult(FetchOutcome::Kind kind, std::string why) {
  FetchOutcome outcome;
  outcome.kind = kind;
  outcome.why = std::move(why);
  return outcome;
}

FetchOutcome Stopped() {
  return FetchResult(FetchOutcome::Kind::kStopped, "the fetch was stopped");
}

// The outcome of a WinHTTP call that failed with `error`; a stop closes the request under a
// call, which then fails with whatever error it meets.
FetchOutcome Failed(DWORD error, HANDLE stop) {
  return IsSet(stop) ? Stopped() : JudgeWinHttpError(error);
}

// `text` as ASCII when every character is printable; false otherwise.
[[nodiscard]] bool NarrowPrintable(std::wstring_view text, std::string& out) {
  out.clear();
  for (const wchar_t c : text) {
    if (c < L' ' || c > L'~') return false;
    out += static_cast<char>(c);
  }
  return true;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A header of the answer as text; none when it is absent or longer than 2047 characters.
std::optional<std::wstring> HeaderText(HINTERNET request, DWORD query) {
  std::vector<wchar_t> buffer(2048);
  DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (!::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
    return std::nullopt;
  }
  return std::wstring(buffer.data(), bytes / sizeof(wchar_t));
}

std::optional<std::uint64_t> ParseDecimal(std::wstring_view text) noexcept {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::uint64_t value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  return value;
}

// The host, port and path with query of an address WinHTTP can read.
struct UrlParts {
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring path;
  bool secure = false;
};

[[nodiscard]] bool CrackUrl(const std::wstring& url, UrlParts& parts) {
  URL_COMPONENTS components = {};
  components.dwStructSize = sizeof(components);
  components.dwHostNameLength = static_cast<DWORD>(-1);
  components.dwUrlPathLength = static_cast<DWORD>(-1);
  components.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), /*length=*/0, /*flags=*/0, &components)) return false;
  parts.host.assign(components.lpszHostName, components.dwHostNameLength);
  parts.port = components.nPort;
  parts.path.assign(components.lpszUrlPath, components.dwUrlPathLength);
  parts.path.append(components.lpszExtraInfo, components.dwExtraInfoLength);
  if (parts.path.empty()) parts.path = L"/";
  parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
  return !parts.host.empty();
}

// A session through the system's proxy settings: the automatic proxy where Windows has it
// (8.1 on), else the proxy configured for WinHTTP.
UniqueInternet OpenSession(const FetchTimeouts& timeouts) {
  UniqueInternet session(::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                                       /*flags=*/0));
  if (!session) {
    session.reset(::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, /*flags=*/0));
  }
  if (session && !::WinHttpSetTimeouts(session.get(), timeouts.resolve_ms, timeouts.connect_ms,
                                       timeouts.send_ms, timeouts.receive_ms)) {
    session.reset();
  }
  return session;
}

// Sends the GET on `request` and waits for the answer's head.
[[nodiscard]] bool SendRequest(HINTERNET request, std::uint64_t range_from) {
  // Redirects are judged here, one by one, never followed by WinHTTP unseen.
  DWORD feature = WINHTTP_DISABLE_REDIRECTS;
  if (!::WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof(feature))) {
    return false;
  }
  const std::wstring range =
      range_from == 0 ? std::wstring() : L"Range: bytes=" + std::to_wstring(range_from) + L"-";
  return ::WinHttpSendRequest(request,
                              range.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : range.c_str(),
                              static_cast<DWORD>(range.size()), WINHTTP_NO_REQUEST_DATA,
                              /*length=*/0, /*total_length=*/0, /*context=*/0) &&
         ::WinHttpReceiveResponse(request, /*reserved=*/nullptr);
}

ResponseHead ReadHead(HINTERNET request) {
  ResponseHead head;
  const auto status = HeaderText(request, WINHTTP_QUERY_STATUS_CODE);
  head.status = static_cast<unsigned>(status ? ParseDecimal(*status).value_or(0) : 0);
  if (const auto length = HeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH)) {
    head.content_length = ParseDecimal(*length);
  }
  if (const auto range = HeaderText(request, WINHTTP_QUERY_CONTENT_RANGE)) {
    head.range_start = ParseContentRangeStart(*range);
  }
  return head;
}

// Hands the body to `receiver` piece by piece; a body shorter than its Content-Length was cut.
FetchOutcome ReadBody(HINTERNET request, HANDLE stop, const ResponseHead& head,
                      const BodyReceiver& receiver) {
  std::vector<char> buffer(kReadChunk);
  std::uint64_t received = 0;
  for (;;) {
    if (IsSet(stop)) return Stopped();
    DWORD read = 0;
    if (!::WinHttpReadData(request, buffer.data(), kReadChunk, &read)) {
      const DWORD error = ::GetLastError();
      return Failed(error, stop);
    }
    if (read == 0) break;
    received += read;
    std::string why = receiver.take(std::string_view(buffer.data(), read));
    if (!why.empty()) return FetchResult(FetchOutcome::Kind::kRefused, std::move(why));
  }
  // A call that a stop cancelled may end as the end of the body.
  if (IsSet(stop)) return Stopped();
  if (head.content_length && received < *head.content_length) {
    return FetchResult(FetchOutcome::Kind::kRetry,
                       "the connection ended after " + std::to_string(received) + " of " +
                           std::to_string(*head.content_length) + " bytes");
  }
  return FetchResult(FetchOutcome::Kind::kDone, "");
}

[[nodiscard]] bool IsRedirect(unsigned status) noexcept {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// What the answer on a sent `request` comes to; `location` is set for a redirect.
FetchOutcome JudgeAnswer(HINTERNET request, HANDLE stop, const BodyReceiver& receiver,
                         std::wstring& location) {
  const ResponseHead head = ReadHead(request);
  if (IsRedirect(head.status)) {
    location = HeaderText(request, WINHTTP_QUERY_LOCATION).value_or(L"");
    if (location.empty()) return JudgeHttpStatus(head.status, std::nullopt);
    return FetchResult(FetchOutcome::Kind::kDone, "");
  }
  if (head.status < 200 || head.status > 299) {
    const auto retry_after = HeaderText(request, WINHTTP_QUERY_RETRY_AFTER);
    return JudgeHttpStatus(head.status, retry_after ? ParseRetryAfter(*retry_after) : std::nullopt);
  }
  std::string why = receiver.accept_head(head);
  if (!why.empty()) return FetchResult(FetchOutcome::Kind::kRefused, std::move(why));
  return ReadBody(request, stop, head, receiver);
}

// One GET of `url`, no redirect followed: a redirect comes back as kDone with `location` set.
FetchOutcome FetchOnce(HINTERNET session, const std::wstring& url, std::uint64_t range_from,
                       HANDLE stop, const BodyReceiver& receiver, std::wstring& location) {
  UrlParts parts;
  // Plain http to this machine only, as WinHTTP reads the address, not only as it is spelt.
  if (!CrackUrl(url, parts) || (!parts.secure && parts.host != L"127.0.0.1")) {
    return FetchResult(FetchOutcome::Kind::kRefused, "the address is not valid");
  }
  const UniqueInternet connection(::WinHttpConnect(session, parts.host.c_str(), parts.port,
                                                   /*reserved=*/0));
  if (!connection) {
    const DWORD error = ::GetLastError();
    return Failed(error, stop);
  }
  UniqueInternet request(::WinHttpOpenRequest(
      connection.get(), L"GET", parts.path.c_str(), /*version=*/nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, parts.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request) {
    const DWORD error = ::GetLastError();
    return Failed(error, stop);
  }
  const CancelOnStop cancel(stop, request);
  if (IsSet(stop)) return Stopped();
  if (!SendRequest(request.get(), range_from)) {
    const DWORD error = ::GetLastError();
    return Failed(error, stop);
  }
  return JudgeAnswer(request.get(), stop, receiver, location);
}

}  // namespace

FetchOutcome FetchBody(const std::wstring& url, std::uint64_t range_from, HANDLE stop,
                       const FetchTimeouts& timeouts, const BodyReceiver& receiver) {
  std::string current;
  if (!NarrowPrintable(url, current) || !IsAllowedFeedUrl(current)) {
    return FetchResult(FetchOutcome::Kind::kRefused, "the address is not allowed: https only");
  }
  const UniqueInternet session = OpenSession(timeouts);
  if (!session) {
    const DWORD error = ::GetLastError();
    return Failed(error, stop);
  }
  for (int hop = 0; hop <= kMaxRedirects; ++hop) {
    std::wstring location;
    FetchOutcome outcome =
        FetchOnce(session.get(), Widen(current), range_from, stop, receiver, location);
    if (location.empty()) return outcome;
    std::string target;
    if (NarrowPrintable(location, target)) target = ResolveRedirectUrl(current, target);
    if (target.empty()) {
      return FetchResult(FetchOutcome::Kind::kRefused,
                         "the server redirected to an address that is not allowed");
    }
    current = target;
  }
  return FetchResult(FetchOutcome::Kind::kRefused, "the server redirected too many times");
}

FetchOutcome FetchSmall(const std::wstring& url, std::size_t max_bytes, HANDLE stop,
                        std::string& body) {
  body.clear();
  const auto too_large = [max_bytes] {
    return "the document is larger than " + std::to_string(max_bytes) + " bytes";
  };
  BodyReceiver receiver;
  receiver.accept_head = [&](const ResponseHead& head) -> std::string {
    if (head.status != 200) return "the server answered " + std::to_string(head.status);
    return head.content_length && *head.content_length > max_bytes ? too_large() : "";
  };
  receiver.take = [&](std::string_view piece) -> std::string {
    if (piece.size() > max_bytes - body.size()) return too_large();
    body.append(piece);
    return "";
  };
  FetchOutcome outcome = FetchBody(url, /*range_from=*/0, stop, FetchTimeouts{}, receiver);
  if (outcome.kind != FetchOutcome::Kind::kDone) body.clear();
  return outcome;
}

FetchOutcome JudgeHttpStatus(unsigned status, std::optional<std::uint64_t> retry_after_s) {
  const bool retry = status >= 500 || status == 408 || status == 429;
  FetchOutcome outcome =
      FetchResult(retry ? FetchOutcome::Kind::kRetry : FetchOutcome::Kind::kRefused,
                  "the server answered " + std::to_string(status));
  if (retry) outcome.retry_after_s = retry_after_s;
  return outcome;
}

FetchOutcome JudgeWinHttpError(DWORD error) {
  const std::string code = " (error " + std::to_string(error) + ")";
  switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return FetchResult(FetchOutcome::Kind::kRefused,
                         "the server's TLS certificate was refused" + code);
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return FetchResult(FetchOutcome::Kind::kRefused, "the address is not valid" + code);
    case ERROR_WINHTTP_TIMEOUT:
      return FetchResult(FetchOutcome::Kind::kRetry, "the server did not answer in time" + code);
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return FetchResult(FetchOutcome::Kind::kRetry, "the server's name did not resolve" + code);
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return FetchResult(FetchOutcome::Kind::kRetry, "the server could not be reached" + code);
    default:
      return FetchResult(FetchOutcome::Kind::kRetry, "the network failed" + code);
  }
}

std::optional<std::uint64_t> ParseRetryAfter(std::wstring_view text) noexcept {
  while (!text.empty() && text.back() == L' ') text.remove_suffix(1);
  while (!text.empty() && text.front() == L' ') text.remove_prefix(1);
  return text.size() <= 9 ? ParseDecimal(text) : std::nullopt;
}

std::optional<std::uint64_t> ParseContentRangeStart(std::wstring_view text) noexcept {
  constexpr std::wstring_view kUnit = L"bytes ";
  if (text.substr(0, kUnit.size()) != kUnit) return std::nullopt;
  text.remove_prefix(kUnit.size());
  const std::size_t dash = text.find(L'-');
  const std::size_t slash = text.find(L'/');
  if (dash == std::wstring_view::npos || slash == std::wstring_view::npos || slash < dash ||
      !ParseDecimal(text.substr(dash + 1, slash - dash - 1))) {
    return std::nullopt;
  }
  return ParseDecimal(text.substr(0, dash));
}

}  // namespace road
