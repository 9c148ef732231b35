#include "feed/feed_url.h"

#include <algorithm>

namespace road {

namespace {

constexpr std::string_view kSecureScheme = "https://";
// Plain http only to this machine: a test server, never a path across a network.
constexpr std::string_view kLoopbackPrefix = "http://127.0.0.1";

bool UrlStartsWith(std::string_view text, std::string_view prefix) noexcept {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsPrintableWithoutSpace(std::string_view text) noexcept {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c <= '~'; });
}

// The length of the scheme and authority of an allowed `url`: where its path begins, or its end.
std::size_t PathStart(std::string_view url) noexcept {
  const std::size_t authority = url.find("//");
  if (authority == std::string_view::npos) return url.size();
  const std::size_t path = url.find_first_of("/?#", authority + 2);
  return path == std::string_view::npos ? url.size() : path;
}

std::string Allowed(const std::string& url) { return IsAllowedFeedUrl(url) ? url : std::string(); }

}  // namespace

bool IsAllowedFeedUrl(std::string_view url) noexcept {
  if (!IsPrintableWithoutSpace(url)) return false;
  // "http://127.0.0.1:1@host/" names `host`, with a user name before it.
  if (url.substr(0, PathStart(url)).find_first_of("@\\") != std::string_view::npos) return false;
  if (UrlStartsWith(url, kSecureScheme)) {
    const std::string_view rest = url.substr(kSecureScheme.size());
    return !rest.empty() && rest.front() != '/' && rest.front() != ':';
  }
  if (!UrlStartsWith(url, kLoopbackPrefix)) return false;
  const std::string_view rest = url.substr(kLoopbackPrefix.size());
  return rest.empty() || rest.front() == ':' || rest.front() == '/';
}

bool IsFileNameBesideFeed(std::string_view url) noexcept {
  const auto allowed = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  };
  return !url.empty() && url.size() <= 255 && url.front() != '.' &&
         std::all_of(url.begin(), url.end(), allowed);
}

std::string ResolveReleaseUrl(std::string_view feed_url, std::string_view release_url) {
  if (!IsFileNameBesideFeed(release_url)) return Allowed(std::string(release_url));
  if (!IsAllowedFeedUrl(feed_url)) return "";
  const std::string_view base = feed_url.substr(0, feed_url.find_first_of("?#"));
  const std::size_t path = PathStart(base);
  const std::size_t last_slash = base.rfind('/');
  const std::string_view folder = last_slash != std::string_view::npos && last_slash >= path
                                      ? base.substr(0, last_slash)
                                      : base;
  return Allowed(std::string(folder) + "/" + std::string(release_url));
}

std::string ResolveRedirectUrl(std::string_view current, std::string_view location) {
  if (UrlStartsWith(location, "https://") || UrlStartsWith(location, "http://")) {
    return Allowed(std::string(location));
  }
  if (location.empty() || location.front() != '/' || UrlStartsWith(location, "//")) return "";
  if (!IsAllowedFeedUrl(current)) return "";
  return Allowed(std::string(current.substr(0, PathStart(current))) + std::string(location));
}

}  // namespace road
