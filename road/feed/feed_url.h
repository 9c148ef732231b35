// Which addresses the service may fetch a feed or a package from.
#pragma once

#include <string>
#include <string_view>

namespace road {

// Whether `url` may be fetched: "https://" and a host, or "http://127.0.0.1" followed by the
// end, a port or a path, for tests on this machine only; the scheme in lower case, every
// character printable ASCII without a space, so that no header line or second address can be
// smuggled in. A host such as "127.0.0.1.example.com" is not 127.0.0.1, nor is one given after
// a user name ("http://127.0.0.1:1@example.com"): no '@' or '\' before the path. Pure.
[[nodiscard]] bool IsAllowedFeedUrl(std::string_view url) noexcept;

// Whether a release's `url` is a plain file name beside the feed (as `scripts/publish` writes
// it without --url-base), which the download resolves against the feed's own address: 1 to
// 255 letters, digits, '-', '_' and '.', not starting with '.'; no path, so it can name
// nothing but a file in the feed's folder. Pure.
[[nodiscard]] bool IsFileNameBesideFeed(std::string_view url) noexcept;

// The address a release's package is fetched from: a file name beside the feed replaces the
// last path segment of `feed_url` (its query and fragment dropped), an absolute `release_url`
// stays as it is. Empty when the result is not an address IsAllowedFeedUrl allows. Pure.
[[nodiscard]] std::string ResolveReleaseUrl(std::string_view feed_url,
                                            std::string_view release_url);

// Where a server's redirect from `current` to `location` leads: an absolute address as it is,
// a path ("/...") on the same scheme, host and port. Empty when the result is not an address
// IsAllowedFeedUrl allows (so no redirect downgrades https to http), or when `location` is
// anything else (a relative path, "//host"). Pure.
[[nodiscard]] std::string ResolveRedirectUrl(std::string_view current, std::string_view location);

}  // namespace road
