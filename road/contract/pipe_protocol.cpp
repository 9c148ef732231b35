#include "contract/pipe_protocol.h"

#include <cwchar>
#include <utility>

#include "win/text_conversion.h"

namespace road {

namespace {

[[nodiscard]] bool StartsWith(const std::string& text, const std::string& prefix) noexcept {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::wstring UpdatePipeName(const std::wstring& guid) {
  return IsWellFormedToken(guid) ? kUpdatePipePrefix + guid : std::wstring();
}

bool IsUpdatePipeName(const std::wstring& name) noexcept {
  const size_t prefix = std::wcslen(kUpdatePipePrefix);
  return name.compare(0, prefix, kUpdatePipePrefix) == 0 && IsWellFormedToken(name.substr(prefix));
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
