// sample-apply-update.exe: a user's click on "Apply update" in the running UI program, and the
// update that follows, watched from outside. The update goes the product's own road
// (update_road.h): the UI asks the service to stage the package, starts the relaunch watcher
// and asks the service to start installer mode.
//
// Usage:
//   sample-apply-update.exe --ui-pid <pid> [--timeout-ms <ms>]
//
// Follows the update until installer mode and the relaunch watcher have both ended, the
// service refused, or the time-out (300000 ms by default) ran out, printing every change seen as
// a line "+<seconds> s  <event>" (see update_timeline.h). Then prints answer=<the service's
// answer>, token=, installer-exit=, watcher-exit= (full 32-bit codes; empty when not seen),
// record=<update status record> and last-launch=<the UI program's LastLaunch>.
// Ends with 0 when both processes ran and ended, 1 otherwise, 2 on a usage error.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>

#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "ui/ui_window.h"
#include "win/text_conversion.h"
#include "update_timeline.h"

namespace {

constexpr wchar_t kUiLog[] = L"UI log: ";
constexpr wchar_t kStagedLine[] = L"service log: Staged ";

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The value after `prefix` on the first noted log line that starts with it.
std::optional<std::wstring> FindLogValue(const sample::UpdateTimeline& timeline,
                                         const std::wstring& prefix) {
    for (const std::wstring& line : timeline.LogLines()) {
        if (StartsWith(line, prefix)) return line.substr(prefix.size());
    }
    return std::nullopt;
}

std::wstring ExitText(const std::optional<DWORD>& code) {
    return code ? std::to_wstring(*code) : L"";
}

struct Outcome {
    std::wstring answer;
    std::wstring token;
};

// The service's last answer in the UI's log: to the request to start the update once it was
// staged, otherwise to the request to stage it. Empty while there is none.
std::wstring LastAnswer(const sample::UpdateTimeline& timeline) {
    const auto staged = FindLogValue(timeline, kUiLog + std::wstring(road::kUiAskedToStage));
    if (!staged || road::ParseAnswer(road::Utf8(*staged)).kind !=
                       road::Answer::Kind::kStaged) {
        return staged.value_or(L"");
    }
    return FindLogValue(timeline, kUiLog + std::wstring(road::kUiAskedToStart)).value_or(L"");
}

// Follows the update the click began until it has ended, been refused or run out of time.
Outcome FollowRoad(sample::UpdateTimeline& timeline, DWORD timeout_ms) {
    Outcome outcome;
    bool followed = false;
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    while (GetTickCount64() < deadline) {
        timeline.WaitAndLook(20);
        outcome.answer = LastAnswer(timeline);
        if (outcome.answer.empty()) continue;
        const road::Answer answer = road::ParseAnswer(road::Utf8(outcome.answer));
        if (answer.kind != road::Answer::Kind::kStarted) break;
        outcome.token = answer.token;
        const auto staged = FindLogValue(timeline, kStagedLine);
        if (!followed && staged) {
            const std::wstring folder = road::StagingFolder(outcome.token);
            timeline.FollowUpdate(folder + L"\\" + road::kUpdaterFileName,
                                  folder + L"\\" + staged->substr(0, staged->find(L" and ")));
            followed = true;
        }
        if (timeline.EndedExitCode(L"installer mode") &&
            timeline.EndedExitCode(L"relaunch watcher")) {
            break;
        }
    }
    timeline.Look();  // an end that came after the last look
    return outcome;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD ui_pid = 0;
    DWORD timeout_ms = 300000;
    bool usage_ok = argc == 3 || argc == 5;
    for (int i = 1; usage_ok && i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        DWORD* target = option == L"--ui-pid" ? &ui_pid
                        : option == L"--timeout-ms" ? &timeout_ms
                                                    : nullptr;
        usage_ok = target != nullptr && road::ParseDword(argv[i + 1], *target);
    }
    if (!usage_ok || ui_pid == 0) {
        fwprintf(stderr, L"usage: sample-apply-update.exe --ui-pid <pid> [--timeout-ms <ms>]\n");
        return 2;
    }
    sample::UpdateTimeline timeline(L"", L"");
    timeline.Look();  // the state before the click
    if (!sample::ClickApplyUpdate(ui_pid, 10000)) {
        timeline.Note(L"user: no window of the UI program pid " + std::to_wstring(ui_pid));
        return 1;
    }
    timeline.Note(L"user: clicked Apply update in Corvanta Remote.exe pid " +
                  std::to_wstring(ui_pid));
    const Outcome outcome = FollowRoad(timeline, timeout_ms);
    const std::optional<DWORD> installer = timeline.EndedExitCode(L"installer mode");
    const std::optional<DWORD> watcher = timeline.EndedExitCode(L"relaunch watcher");
    wprintf(L"answer=%ls\ntoken=%ls\ninstaller-exit=%ls\nwatcher-exit=%ls\nrecord=%ls\n"
            L"last-launch=%ls\n",
            outcome.answer.c_str(), outcome.token.c_str(), ExitText(installer).c_str(),
            ExitText(watcher).c_str(), timeline.Record().c_str(), timeline.LastLaunch().c_str());
    return installer && watcher ? 0 : 1;
}
