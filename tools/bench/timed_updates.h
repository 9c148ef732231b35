// The updates that sample-bench.exe times from the outside: by the updater's two modes and by
// the batch script that is their rival.
#pragma once

#include <windows.h>

#include <string>

namespace bench {

// "<updater> --edk-remote-install-msi <package> <token>": installer mode alone.
[[nodiscard]] std::wstring InstallerModeCommand(const std::wstring& updater,
                                                const std::wstring& package);
// "cmd.exe /c <script> <package> <token> <service> <service program> <product program>
// <status key> <status value> "|completed"": the batch script, given the names it works on.
[[nodiscard]] std::wstring ScriptCommand(const std::wstring& script, const std::wstring& package);

// Times `command`, which does the whole of an update, under an observer of the service, the UI
// program `ui_pid`, msiexec and the record. Prints total-ms, exit and the moments seen. Returns
// 0 when it ran, 1 when it could not be observed, started or followed to its end.
[[nodiscard]] int TimeObserved(const std::wstring& command, DWORD ui_pid);

// Times both updater modes side by side until both have ended (the watcher ends once the
// program it started is input-idle). Prints total-ms, exit, watcher-exit and
// relaunched-version, the version of the program that the watcher's log says it started last.
[[nodiscard]] int TimeWholeUpdate(const std::wstring& updater, const std::wstring& package,
                                  DWORD ui_pid);

// Times the script followed by starting the installed program until it is input-idle. Prints
// total-ms, exit (the script's) and relaunched-version.
[[nodiscard]] int TimeWholeScript(const std::wstring& script, const std::wstring& package);

}  // namespace bench
