// feed_fetch.exe: fetches one document with the service's own client (road/feed/http_fetch.h),
// for the test of the feed server under Wine (tests/windows/check_feed_server).
//
//   feed_fetch.exe <url>
//
// Prints "done" and the body, and ends with 0; or prints "retry: <why>" or "refused: <why>"
// and ends with 1.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "feed/feed_document.h"
#include "feed/http_fetch.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    (void)std::fprintf(stderr, "usage: feed_fetch.exe <url>\n");
    return 2;
  }
  // The body goes out byte for byte, without a carriage return before each line feed.
  (void)::_setmode(::_fileno(stdout), _O_BINARY);
  std::string body;
  const road::FetchOutcome outcome =
      road::FetchSmall(argv[1], road::kMaxFeedBytes, /*stop=*/nullptr, body);
  if (outcome.kind == road::FetchOutcome::Kind::kDone) {
    (void)std::printf("done\n");
    (void)std::fwrite(body.data(), 1, body.size(), stdout);
    return 0;
  }
  const bool retry = outcome.kind == road::FetchOutcome::Kind::kRetry;
  (void)std::printf("%s: %s\n", retry ? "retry" : "refused", outcome.why.c_str());
  return 1;
}
