#include "apply_update/road_follower.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "apply_update/updater_label.h"
#include "contract/pipe_protocol.h"
#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "ui/update_client.h"
#include "win/text_conversion.h"

namespace apply_update {

namespace {

[[nodiscard]] std::wstring Labelled(const wchar_t* log_label, const wchar_t* line_start) {
  return std::wstring(log_label) + L": " + line_start;
}

// The value after `prefix` on the first noted log line that starts with it.
[[nodiscard]] std::optional<std::wstring> FindLogValue(const UpdateTimeline& timeline,
                                                       const std::wstring& prefix) {
  const std::vector<std::wstring>& lines = timeline.LogLines();
  const auto found = std::find_if(lines.begin(), lines.end(), [&](const std::wstring& line) {
    return line.compare(0, prefix.size(), prefix) == 0;
  });
  if (found == lines.end()) return std::nullopt;
  return found->substr(prefix.size());
}

// The service's last answer in the UI's log: to the request to start the update once it was
// staged, otherwise to the request to stage it. Empty while there is none.
[[nodiscard]] std::wstring LastAnswer(const UpdateTimeline& timeline) {
  const auto staged = FindLogValue(timeline, Labelled(kUiLogLabel, road::kUiAskedToStage));
  if (!staged || road::ParseAnswer(road::Utf8(*staged)).kind != road::Answer::Kind::kStaged) {
    return staged.value_or(L"");
  }
  return FindLogValue(timeline, Labelled(kUiLogLabel, road::kUiAskedToStart)).value_or(L"");
}

// Once the service's log names the staged package: the staged updater and package of `token`.
[[nodiscard]] bool FollowStaged(UpdateTimeline& timeline, const std::wstring& token) {
  const auto staged = FindLogValue(timeline, Labelled(kServiceLogLabel, L"Staged "));
  if (!staged) return false;
  const std::wstring folder = road::StagingFolder(token);
  timeline.FollowUpdate(folder + L"\\" + road::kUpdaterFileName,
                        folder + L"\\" + staged->substr(0, staged->find(L" and ")));
  return true;
}

}  // namespace

RoadOutcome FollowRoad(UpdateTimeline& timeline, DWORD timeout_ms) {
  RoadOutcome outcome;
  bool followed = false;
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (::GetTickCount64() < deadline) {
    timeline.WaitAndLook(20);
    outcome.answer = LastAnswer(timeline);
    if (outcome.answer.empty()) continue;
    const road::Answer answer = road::ParseAnswer(road::Utf8(outcome.answer));
    if (answer.kind != road::Answer::Kind::kStarted) break;
    outcome.token = answer.token;
    if (!followed) followed = FollowStaged(timeline, outcome.token);
    if (timeline.EndedExitCode(kInstallerLabel) && timeline.EndedExitCode(kWatcherLabel)) break;
  }
  timeline.Look();  // an end that came after the last look
  return outcome;
}

std::wstring FollowFeed(UpdateTimeline& timeline, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  std::string last;
  while (::GetTickCount64() < deadline) {
    const std::string answer =
        road::WithoutLineEnd(road::ExchangeWithService(road::StatusRequestLine()));
    if (answer != last) timeline.Note(L"service: " + road::WidenAscii(answer));
    last = answer;
    const std::optional<road::UpdateProgress> progress = road::ParseStatusAnswer(answer);
    if (progress && progress->kind == road::UpdateProgress::Kind::kReady) {
      return road::WidenAscii(progress->version);
    }
    ::Sleep(100);
  }
  return L"";
}

}  // namespace apply_update
