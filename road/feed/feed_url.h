// Which addresses the service may fetch a feed or a package from.
#pragma once

#include <string_view>

namespace road {

// Whether `url` may be fetched: "https://" and a host, or "http://127.0.0.1" followed by the
// end, a port or a path, for tests on this machine only; the scheme in lower case, every
// character printable ASCII without a space, so that no header line or second address can be
// smuggled in. A host such as "127.0.0.1.example.com" is not 127.0.0.1. Pure.
[[nodiscard]] bool IsAllowedFeedUrl(std::string_view url) noexcept;

// Whether a release's `url` is a plain file name beside the feed (as `scripts/publish` writes
// it without --url-base), which the download resolves against the feed's own address: 1 to
// 255 letters, digits, '-', '_' and '.', not starting with '.'; no path, so it can name
// nothing but a file in the feed's folder. Pure.
[[nodiscard]] bool IsFileNameBesideFeed(std::string_view url) noexcept;

}  // namespace road
