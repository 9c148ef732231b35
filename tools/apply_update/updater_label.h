// Which of its two modes an updater process runs, told from the outside.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace apply_update {

// The timeline's labels of the two modes.
inline constexpr wchar_t kInstallerLabel[] = L"installer mode";
inline constexpr wchar_t kWatcherLabel[] = L"relaunch watcher";

// The label of updater process `pid`, started by a program named `parent_name` (empty when
// unknown): after the log line of the program that started it, naming its pid, among
// `log_lines` ("<log label>: <line>"); or else after that program itself; or else its file
// name. The log comes first because the service may have stopped, and left the process list,
// by the time a busy machine lets the installer mode it started be seen.
[[nodiscard]] std::wstring UpdaterLabel(const std::vector<std::wstring>& log_lines, DWORD pid,
                                        const std::wstring& parent_name);

}  // namespace apply_update
