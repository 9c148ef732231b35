#include "contract/pipe_protocol.h"

#include <algorithm>
#include <cwchar>
#include <utility>

#include "win/text_conversion.h"

namespace road {

namespace {

[[nodiscard]] bool StartsWith(const std::string& text, const std::string& prefix) noexcept {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

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

std::string StatusRequestLine() { return std::string(kStatusRequest) + "\n"; }

std::string CheckRequestLine() { return std::string(kCheckRequest) + "\n"; }

std::string StatusAnswerText(const UpdateProgress& progress) {
  std::string text = kStatusAnswer;
  switch (progress.kind) {
    case UpdateProgress::Kind::kUpToDate:
      return text + kUpToDateWord;
    case UpdateProgress::Kind::kChecking:
      return text + kCheckingWord;
    case UpdateProgress::Kind::kDownloading:
      return text + kDownloadingWord + std::to_string(progress.bytes) + " of " +
             std::to_string(progress.total);
    case UpdateProgress::Kind::kReady:
      return text + kReadyWord + PrintableAscii(progress.version);
    case UpdateProgress::Kind::kRefused:
      break;
  }
  return text + kRefusedAnswer + PrintableAscii(progress.reason);
}

std::optional<UpdateProgress> ParseStatusAnswer(std::string line) {
  line = WithoutLineEnd(std::move(line));
  if (!StartsWith(line, kStatusAnswer)) return std::nullopt;
  const std::string words = line.substr(std::string(kStatusAnswer).size());
  UpdateProgress progress;
  if (words == kUpToDateWord) return progress;
  if (words == kCheckingWord) {
    progress.kind = UpdateProgress::Kind::kChecking;
    return progress;
  }
  if (StartsWith(words, kReadyWord) && words.size() > std::string(kReadyWord).size()) {
    progress.kind = UpdateProgress::Kind::kReady;
    progress.version = words.substr(std::string(kReadyWord).size());
    return progress;
  }
  if (StartsWith(words, kRefusedAnswer)) {
    progress.kind = UpdateProgress::Kind::kRefused;
    progress.reason = words.substr(std::string(kRefusedAnswer).size());
    return progress;
  }
  if (!StartsWith(words, kDownloadingWord)) return std::nullopt;
  const std::string counts = words.substr(std::string(kDownloadingWord).size());
  const size_t of = counts.find(" of ");
  if (of == std::string::npos) return std::nullopt;
  const std::optional<std::uint64_t> bytes = ParseDecimal64(WidenAscii(counts.substr(0, of)));
  const std::optional<std::uint64_t> total = ParseDecimal64(WidenAscii(counts.substr(of + 4)));
  if (!bytes || !total || *bytes > *total) return std::nullopt;
  progress.kind = UpdateProgress::Kind::kDownloading;
  progress.bytes = *bytes;
  progress.total = *total;
  return progress;
}

Request ParseRequest(const std::string& line) {
  if (line == kApplyRequest) return {Request::Kind::kApplyPending, L""};
  if (line == kStatusRequest) return {Request::Kind::kStatus, L""};
  if (line == kCheckRequest) return {Request::Kind::kCheck, L""};
  if (StartsWith(line, kStartRequest)) {
    const std::wstring token = WidenAscii(line.substr(std::string(kStartRequest).size()));
    if (IsWellFormedToken(token)) return {Request::Kind::kStart, token};
  }
  return {};
}

Answer ParseAnswer(std::string line) {
  line = WithoutLineEnd(std::move(line));
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
