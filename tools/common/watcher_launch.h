// The relaunch watcher's account of the program it started, read from its log.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tools {

// The process id of a watcher log line "Launch PID=<pid> exit=<code>"; 0 for any other line.
[[nodiscard]] DWORD LaunchedPid(const std::wstring& line);

// The process id of the last launch line among `lines`; 0 when there is none.
[[nodiscard]] DWORD LastLaunchedPid(const std::vector<std::wstring>& lines);

}  // namespace tools
