#include "service/update_policy.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "feed/feed_url.h"
#include "service/service_log.h"
#include "shared/unique_handles.h"
#include "win/text_conversion.h"

namespace road {

namespace {

// A quoted value is shown up to this many characters in a note.
constexpr size_t kShownPolicyChars = 80;

std::string AsciiName(const wchar_t* name) {
  std::string text;
  for (; *name != L'\0'; ++name) text += static_cast<char>(*name);
  return text;
}

std::string PolicyTypeName(DWORD type) {
  switch (type) {
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN:
      return "REG_DWORD_BIG_ENDIAN";
    case REG_QWORD:
      return "REG_QWORD";
    case REG_NONE:
      return "REG_NONE";
    default:
      return "value of type " + std::to_string(type);
  }
}

void NotePolicyIgnored(const wchar_t* name, const std::string& why,
                       std::vector<std::string>& notes) {
  notes.push_back("Policy value " + AsciiName(name) + " ignored: " + why + "; the default applies");
}

bool IsPrintableAsciiText(const std::wstring& text) {
  return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L' ' && c <= L'~'; });
}

// `text` in double quotes for a note of one line: cut at kShownPolicyChars, and every character
// but printable ASCII shown as '?'.
std::string QuotedPolicyText(const std::wstring& text) {
  return "\"" + PrintableAscii(std::wstring_view(text).substr(0, kShownPolicyChars)) +
         (text.size() > kShownPolicyChars ? "...\"" : "\"");
}

// The text of a REG_SZ value up to its first NUL, whether or not the writer stored one.
std::wstring PolicyValueText(const RawPolicyValue& value) {
  std::wstring text(value.bytes.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) std::memcpy(text.data(), value.bytes.data(), text.size() * sizeof(wchar_t));
  return text.substr(0, text.find(L'\0'));
}

// The text of `name` when it is set: a REG_SZ, not too long, not empty. Notes why not when it
// is there and unusable.
std::optional<std::wstring> PolicyTextValue(const RawPolicyValues& found, const wchar_t* name,
                                            std::vector<std::string>& notes) {
  const auto value = found.find(name);
  if (value == found.end()) return std::nullopt;
  if (value->second.type != REG_SZ) {
    NotePolicyIgnored(name, "a " + PolicyTypeName(value->second.type) + ", not a REG_SZ", notes);
    return std::nullopt;
  }
  if (value->second.too_long) {
    NotePolicyIgnored(name, "longer than " + std::to_string(kMaxPolicyTextChars) + " characters",
                      notes);
    return std::nullopt;
  }
  std::wstring text = PolicyValueText(value->second);
  if (text.empty()) return std::nullopt;
  return text;
}

// The value of `name` read by `read` from its text, or nothing with a note saying that the text
// is not `what`. Only printable ASCII reaches `read`.
template <typename T>
std::optional<T> JudgePolicyText(const RawPolicyValues& found, const wchar_t* name,
                                 const char* what, std::optional<T> (*read)(const std::string&),
                                 std::vector<std::string>& notes) {
  const std::optional<std::wstring> text = PolicyTextValue(found, name, notes);
  if (!text) return std::nullopt;
  std::optional<T> value;
  if (IsPrintableAsciiText(*text)) value = read(std::string(text->begin(), text->end()));
  if (!value) NotePolicyIgnored(name, QuotedPolicyText(*text) + " is not " + what, notes);
  return value;
}

// The REG_DWORD `name` when it is set and at most `highest`; else nothing, with a note when it
// is there. `allowed` words the values for the note.
std::optional<DWORD> JudgePolicyDword(const RawPolicyValues& found, const wchar_t* name,
                                      DWORD highest, const char* allowed,
                                      std::vector<std::string>& notes) {
  const auto value = found.find(name);
  if (value == found.end()) return std::nullopt;
  const RawPolicyValue& raw = value->second;
  if (raw.type != REG_DWORD) {
    NotePolicyIgnored(name, "a " + PolicyTypeName(raw.type) + ", not a REG_DWORD", notes);
    return std::nullopt;
  }
  if (raw.bytes.size() != sizeof(DWORD)) {
    NotePolicyIgnored(name, "a REG_DWORD of " + std::to_string(raw.bytes.size()) + " bytes", notes);
    return std::nullopt;
  }
  DWORD number = 0;
  std::memcpy(&number, raw.bytes.data(), sizeof(number));
  if (number <= highest) return number;
  NotePolicyIgnored(name, std::to_string(number) + " is not " + allowed, notes);
  return std::nullopt;
}

std::optional<std::string> ReadPolicyFeedUrl(const std::string& text) {
  if (!IsAllowedFeedUrl(text)) return std::nullopt;
  return text;
}

// A channel's name as the feed names channels (feed/feed_document.h).
std::optional<std::string> ReadPolicyChannel(const std::string& text) {
  if (text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.") !=
      std::string::npos) {
    return std::nullopt;
  }
  return text;
}

// One to three version fields, with or without a final dot; kept without it.
std::optional<std::string> ReadPolicyVersionPrefix(const std::string& text) {
  std::string fields = text;
  if (fields.back() == '.') fields.pop_back();
  if (std::count(fields.begin(), fields.end(), '.') > 2) return std::nullopt;
  if (!ParseProductVersion(std::wstring(fields.begin(), fields.end()))) return std::nullopt;
  return fields;
}

// "HH:MM" from `position` of `text`, as minutes after midnight.
std::optional<unsigned> ReadPolicyClock(const std::string& text, size_t position) {
  const auto digit = [&](size_t at) { return static_cast<unsigned>(text[position + at] - '0'); };
  const auto is_digit = [&](size_t at) { return digit(at) <= 9; };  // unsigned: '/' wraps
  const size_t digits[] = {0, 1, 3, 4};
  if (!std::all_of(std::begin(digits), std::end(digits), is_digit)) return std::nullopt;
  const unsigned hours = digit(0) * 10 + digit(1);
  const unsigned minutes = digit(3) * 10 + digit(4);
  if (text[position + 2] != ':' || hours > 23 || minutes > 59) return std::nullopt;
  return hours * 60 + minutes;
}

std::optional<ApplyWindow> ReadPolicyWindow(const std::string& text) {
  if (text.size() != 11 || text[5] != '-') return std::nullopt;
  const std::optional<unsigned> start = ReadPolicyClock(text, 0);
  const std::optional<unsigned> end = ReadPolicyClock(text, 6);
  if (!start || !end || *start == *end) return std::nullopt;
  return ApplyWindow{*start, *end};
}

}  // namespace

PolicyJudgement JudgePolicyValues(const RawPolicyValues& found) {
  PolicyJudgement judged;
  UpdatePolicy& policy = judged.policy;
  std::vector<std::string>& notes = judged.notes;
  if (const auto url = JudgePolicyText(found, kPolicyFeedUrl,
                                       "an https address (http only to 127.0.0.1, for tests)",
                                       ReadPolicyFeedUrl, notes)) {
    policy.feed_url = WidenAscii(*url);
  }
  policy.channel = JudgePolicyText(found, kPolicyChannel, "a channel (letters, digits, -, _, .)",
                                   ReadPolicyChannel, notes)
                       .value_or(policy.channel);
  if (const auto mode = JudgePolicyDword(found, kPolicyUpdateMode, 2, "0, 1 or 2", notes)) {
    policy.mode = static_cast<UpdateMode>(*mode);
  }
  policy.version_prefix =
      JudgePolicyText(found, kPolicyTargetVersionPrefix,
                      "a version prefix (one to three fields of digits, as 2.0.)",
                      ReadPolicyVersionPrefix, notes)
          .value_or(policy.version_prefix);
  policy.window = JudgePolicyText(found, kPolicyApplyWindow, "HH:MM-HH:MM with two different times",
                                  ReadPolicyWindow, notes);
  if (const auto required =
          JudgePolicyDword(found, kPolicyRequireRevocationCheck, 1, "0 or 1", notes)) {
    policy.require_revocation_check = *required == 1;
  }
  return judged;
}

RawPolicyValues ReadPolicyValues() {
  HKEY raw_key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUpdatePolicyKey, /*options=*/0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &raw_key) != ERROR_SUCCESS) {
    return {};
  }
  const UniqueHKey key(raw_key);
  RawPolicyValues found;
  for (const wchar_t* name : kUpdatePolicyValueNames) {
    RawPolicyValue value;
    value.bytes.resize((kMaxPolicyTextChars + 1) * sizeof(wchar_t));
    auto size = static_cast<DWORD>(value.bytes.size());
    const LSTATUS status = ::RegQueryValueExW(key.get(), name, /*reserved=*/nullptr, &value.type,
                                              value.bytes.data(), &size);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) continue;
    value.too_long = status == ERROR_MORE_DATA;
    value.bytes.resize(value.too_long ? 0 : size);
    found.emplace(name, std::move(value));
  }
  return found;
}

UpdatePolicy ReadUpdatePolicy(const ServiceLog& log) {
  PolicyJudgement judged = JudgePolicyValues(ReadPolicyValues());
  for (const std::string& note : judged.notes) log.Note(WidenAscii(note));
  return std::move(judged.policy);
}

// CORVANTA_FEED_URL comes from road/CMakeLists.txt, which checks that it is an https address.
std::wstring BuiltInFeedUrl() { return WidenAscii(CORVANTA_FEED_URL); }

std::string MinuteOfDayText(unsigned minute_of_day) {
  char text[8] = {};
  (void)std::snprintf(text, sizeof(text), "%02u:%02u", minute_of_day / 60 % 24, minute_of_day % 60);
  return text;
}

std::string ApplyWindowText(const ApplyWindow& window) {
  return MinuteOfDayText(window.start_minute) + "-" + MinuteOfDayText(window.end_minute);
}

}  // namespace road
