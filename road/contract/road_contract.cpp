#include "contract/road_contract.h"

#include <windows.h>

#include <objbase.h>

#include <cwchar>
#include <utility>

#include "win/text_conversion.h"

namespace road {

namespace {

[[nodiscard]] bool StartsWith(const std::string& text, const std::string& prefix) noexcept {
  return text.compare(0, prefix.size(), prefix) == 0;
}

[[nodiscard]] bool IsHexDigit(wchar_t c) noexcept {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// Whether the `size` characters at `text` are a GUID without braces.
[[nodiscard]] bool IsGuidText(const wchar_t* text, size_t size) noexcept {
  if (size != 36) return false;
  for (size_t i = 0; i < size; ++i) {
    const bool dash_place = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash_place ? text[i] != L'-' : !IsHexDigit(text[i])) return false;
  }
  return true;
}

}  // namespace

std::wstring WatcherLogFileName() {
  return std::wstring(kUpdaterFileName) + updater_contract::kLogSuffix;
}

std::wstring WatcherLogSddl(const std::wstring& owner_sid) {
  return L"O:" + owner_sid + L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x0012008d;;;OW)";
}

bool IsWellFormedToken(const std::wstring& token) noexcept {
  return IsGuidText(token.data(), token.size());
}

std::wstring NewToken() {
  GUID guid = {};
  wchar_t text[64] = {};
  if (FAILED(::CoCreateGuid(&guid)) || ::StringFromGUID2(guid, text, 64) == 0) return L"";
  const std::wstring braced = text;
  return braced.substr(1, braced.size() - 2);
}

std::wstring UpdatePipeName(const std::wstring& guid) {
  return IsWellFormedToken(guid) ? kUpdatePipePrefix + guid : std::wstring();
}

bool IsUpdatePipeName(const std::wstring& name) noexcept {
  const size_t prefix = std::wcslen(kUpdatePipePrefix);
  return name.compare(0, prefix, kUpdatePipePrefix) == 0 &&
         IsGuidText(name.data() + prefix, name.size() - prefix);
}

std::string ApplyRequestLine() { return std::string(kApplyRequest) + "\n"; }

std::string StartRequestLine(const std::wstring& token) {
  return kStartRequest + Utf8(token) + "\n";
}

Request ParseRequest(const std::string& line) {
  if (line == kApplyRequest) return {Request::Kind::kApplyPending, L""};
  if (StartsWith(line, kStartRequest)) {
    const std::wstring token = WidenAscii(line.substr(std::string(kStartRequest).size()));
    if (IsWellFormedToken(token)) return {Request::Kind::kStart, token};
  }
  return {};
}

Answer ParseAnswer(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  for (const auto& [prefix, kind] : {std::pair{kStagedAnswer, Answer::Kind::kStaged},
                                     std::pair{kStartedAnswer, Answer::Kind::kStarted}}) {
    if (!StartsWith(line, prefix)) continue;
    const std::wstring token = WidenAscii(line.substr(std::string(prefix).size()));
    if (IsWellFormedToken(token)) return {kind, token, ""};
  }
  if (StartsWith(line, kRefusedAnswer)) {
    return {Answer::Kind::kRefused, L"", line.substr(std::string(kRefusedAnswer).size())};
  }
  return {Answer::Kind::kNone, L"", line};
}

}  // namespace road
