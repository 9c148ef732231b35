// winhttp_get.exe: fetches one URL with WinHTTP, the way the service reaches its feed (the
// system's proxy settings, https checked against the machine's Root store), for the test of
// the feed server under Wine (tests/windows/check_feed_server).
//
//   winhttp_get.exe <url>
//
// Prints "status=<HTTP status>" and the body, and ends with 0; or prints "error=<WinHTTP
// error>" (12175, ERROR_WINHTTP_SECURE_FAILURE, for a certificate the machine does not
// trust) and ends with 1.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <winhttp.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

struct InternetCloser {
  void operator()(HINTERNET handle) const noexcept { (void)::WinHttpCloseHandle(handle); }
};
using UniqueInternet = std::unique_ptr<void, InternetCloser>;

int Failed() {
  const DWORD error = ::GetLastError();
  std::printf("error=%lu\n", error);
  return 1;
}

// Sends the GET request of `url` on `connection` and prints its answer.
int Fetch(HINTERNET connection, const URL_COMPONENTS& url) {
  const std::wstring path(url.lpszUrlPath, url.dwUrlPathLength);
  const UniqueInternet request(::WinHttpOpenRequest(
      connection, L"GET", path.c_str(), /*version=*/nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, url.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
  if (!request) return Failed();
  if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, /*headers_length=*/0,
                            WINHTTP_NO_REQUEST_DATA, /*optional_length=*/0, /*total_length=*/0,
                            /*context=*/0) ||
      !::WinHttpReceiveResponse(request.get(), /*reserved=*/nullptr)) {
    return Failed();
  }
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return Failed();
  }
  std::printf("status=%lu\n", status);
  char buffer[4096];
  DWORD read = 0;
  while (::WinHttpReadData(request.get(), buffer, sizeof(buffer), &read) && read > 0) {
    (void)std::fwrite(buffer, 1, read, stdout);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: winhttp_get.exe <url>\n");
    return 2;
  }
  // The body goes out byte for byte, without a carriage return before each line feed.
  (void)::_setmode(::_fileno(stdout), _O_BINARY);
  URL_COMPONENTS url{};
  url.dwStructSize = sizeof(url);
  url.dwHostNameLength = static_cast<DWORD>(-1);
  url.dwUrlPathLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(argv[1], /*length=*/0, /*flags=*/0, &url)) return Failed();
  const UniqueInternet session(::WinHttpOpen(L"winhttp_get", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                                             /*flags=*/0));
  if (!session) return Failed();
  const std::wstring host(url.lpszHostName, url.dwHostNameLength);
  const UniqueInternet connection(
      ::WinHttpConnect(session.get(), host.c_str(), url.nPort, /*reserved=*/0));
  if (!connection) return Failed();
  return Fetch(connection.get(), url);
}
