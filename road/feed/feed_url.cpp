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

}  // namespace

bool IsAllowedFeedUrl(std::string_view url) noexcept {
  if (!IsPrintableWithoutSpace(url)) return false;
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

}  // namespace road
