#include "feed/feed_document.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "feed/feed_url.h"

namespace road {

namespace {

using Json = nlohmann::json;

constexpr unsigned kFullRollout = 100;
constexpr std::size_t kSha256HexDigits = 64;

// Where a member stands in the document, for refusals: "channels.stable[0].size".
std::string MemberPath(const std::string& parent, const char* name) {
  return parent.empty() ? name : parent + "." + name;
}

// The member `name` of `object`, or nullptr when it has none.
const Json* FindMember(const Json& object, const char* name) {
  const auto found = object.find(name);
  return found == object.end() ? nullptr : &*found;
}

// Reads the unsigned integer member `name`; the refusal, or empty.
std::string ReadUnsigned(const Json& object, const std::string& parent, const char* name,
                         std::uint64_t& value) {
  const Json* member = FindMember(object, name);
  if (member == nullptr) return MemberPath(parent, name) + " is missing";
  if (!member->is_number_unsigned()) {
    return MemberPath(parent, name) + " is not an unsigned integer";
  }
  value = member->get<std::uint64_t>();
  return "";
}

// Reads the string member `name`; the refusal, or empty.
std::string ReadString(const Json& object, const std::string& parent, const char* name,
                       std::string& value) {
  const Json* member = FindMember(object, name);
  if (member == nullptr) return MemberPath(parent, name) + " is missing";
  if (!member->is_string()) return MemberPath(parent, name) + " is not a string";
  value = member->get<std::string>();
  return "";
}

// A version as the product's version parser reads it; the text is ASCII or refused there.
std::optional<ProductVersion> ReadVersion(const std::string& text) {
  std::wstring wide;
  for (const char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return ParseProductVersion(wide);
}

bool IsSha256Hex(const std::string& text) {
  return text.size() == kSha256HexDigits &&
         text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// A channel's name goes into reasons, logs and answers of one line each: a plain word only.
bool IsChannelName(const std::string& name) {
  return !name.empty() && name.find_first_not_of(
                              "abcdefghijklmnopqrstuvwxyz"
                              "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.") == std::string::npos;
}

std::string LowercaseAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return text;
}

// Reads the version and the URL of a release; the refusal, or empty.
std::string ReadReleaseSource(const Json& entry, const std::string& path, FeedRelease& release) {
  std::string text;
  std::string refusal = ReadString(entry, path, "version", text);
  if (!refusal.empty()) return refusal;
  const std::optional<ProductVersion> version = ReadVersion(text);
  if (!version) return path + ".version is not a product version";
  release.version = *version;
  refusal = ReadString(entry, path, "url", release.url);
  if (!refusal.empty()) return refusal;
  if (!IsAllowedFeedUrl(release.url) && !IsFileNameBesideFeed(release.url)) {
    return path + ".url is neither an https address nor a file name beside the feed";
  }
  return "";
}

// Reads the size, the hash and the rollout of a release; the refusal, or empty.
std::string ReadReleaseBytes(const Json& entry, const std::string& path, FeedRelease& release) {
  std::string refusal = ReadUnsigned(entry, path, "size", release.size);
  if (!refusal.empty()) return refusal;
  if (release.size == 0 || release.size > kMaxPackageBytes) {
    return path + ".size is not within 1.." + std::to_string(kMaxPackageBytes);
  }
  refusal = ReadString(entry, path, "sha256", release.sha256);
  if (!refusal.empty()) return refusal;
  if (!IsSha256Hex(release.sha256)) return path + ".sha256 is not 64 hex digits";
  release.sha256 = LowercaseAscii(release.sha256);
  std::uint64_t rollout = 0;
  refusal = ReadUnsigned(entry, path, "rollout", rollout);
  if (!refusal.empty()) return refusal;
  if (rollout > kFullRollout) return path + ".rollout is not within 0..100";
  release.rollout = static_cast<unsigned>(rollout);
  return "";
}

// Reads one channel's list of releases; the refusal, or empty.
std::string ReadChannel(const Json& list, const std::string& path,
                        std::vector<FeedRelease>& releases) {
  if (!list.is_array()) return path + " is not a list";
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string entry_path = path + "[" + std::to_string(i) + "]";
    if (!list[i].is_object()) return entry_path + " is not an object";
    FeedRelease release;
    std::string refusal = ReadReleaseSource(list[i], entry_path, release);
    if (refusal.empty()) refusal = ReadReleaseBytes(list[i], entry_path, release);
    if (!refusal.empty()) return refusal;
    // Two entries of one version would leave it to chance which bytes a machine takes.
    const bool listed = std::any_of(releases.begin(), releases.end(), [&](const FeedRelease& r) {
      return !IsLaterVersion(r.version, release.version) &&
             !IsLaterVersion(release.version, r.version);
    });
    if (listed) return entry_path + ".version " + VersionText(release.version) + " is listed twice";
    releases.push_back(release);
  }
  return "";
}

// Reads the whole document from its parsed JSON; the refusal, or empty.
std::string ReadDocument(const Json& root, FeedDocument& document) {
  if (!root.is_object()) return "the feed is not an object";
  std::string refusal = ReadUnsigned(root, "", "serial", document.serial);
  if (!refusal.empty()) return refusal;
  std::string expires;
  refusal = ReadString(root, "", "expires", expires);
  if (!refusal.empty()) return refusal;
  const std::optional<UnixSeconds> expiry = ParseUtcTimestamp(expires);
  if (!expiry) return "expires is not a UTC time such as 2027-01-31T00:00:00Z";
  document.expires = *expiry;
  const Json* channels = FindMember(root, "channels");
  if (channels == nullptr) return "channels is missing";
  if (!channels->is_object()) return "channels is not an object";
  for (const auto& [name, list] : channels->items()) {
    if (!IsChannelName(name)) return "channels holds a name other than letters, digits, -, _, .";
    refusal = ReadChannel(list, "channels." + name, document.channels[name]);
    if (!refusal.empty()) return refusal;
  }
  return "";
}

}  // namespace

FeedParse ParseFeedDocument(std::string_view text) {
  FeedParse parse;
  if (text.size() > kMaxFeedBytes) {
    parse.refusal = "the feed is larger than " + std::to_string(kMaxFeedBytes) + " bytes";
    return parse;
  }
  // nlohmann/json reports by exceptions; they end here, and the road beyond sees a refusal.
  try {
    parse.refusal = ReadDocument(Json::parse(text.begin(), text.end()), parse.document);
  } catch (const Json::parse_error& error) {
    parse.refusal = "the feed is not JSON (at byte " + std::to_string(error.byte) + ")";
  } catch (const Json::exception& error) {
    parse.refusal = std::string("the feed could not be read: ") + error.what();
  }
  parse.accepted = parse.refusal.empty();
  if (!parse.accepted) parse.document = FeedDocument{};
  return parse;
}

}  // namespace road
