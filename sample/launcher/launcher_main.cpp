// sample-launcher.exe: starts an update the way the product does. It makes one update token
// and starts the updater twice with it, in installer mode and as relaunch watcher:
//
//   <updater> --edk-remote-install-msi <package> <token>
//   <updater> --edk-remote-relaunch <ui pid> <token>
//
// Usage:
//   sample-launcher.exe --updater <RemoteUpdater.exe> --msi <package>
//                       [--ui-pid <pid>] [--token <text>] [--no-wait | --timeline]
//
//   --ui-pid   the old user-interface process the watcher waits for; by default this
//              launcher's own id, and then the launcher waits only for installer mode and
//              exits, so that the watcher sees the old UI end (as the product's UI would)
//   --token    the update token; by default a fresh GUID without braces
//   --no-wait  exit as soon as both processes are started
//   --timeline follow the update until both processes have ended, printing every change
//              seen in the meantime as a line "+<seconds> s  <event>" (see update_timeline.h),
//              then record=<update status record> and last-launch=<the sample UI program's
//              LastLaunch>; needs --ui-pid
//
// Prints, one per line: token=<token>, installer-pid=<id>, watcher-pid=<id>, then for each
// process waited for installer-exit=<code> and watcher-exit=<code>, full 32-bit codes in
// unsigned decimal. Ends with 0 when both processes were started, 1 when one could not be
// (start-failed=<mode>:<error> is printed), 2 on a usage error.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>

#include "sample_common.h"
#include "update_road.h"
#include "update_timeline.h"

namespace {

struct Options {
    std::wstring updater;
    std::wstring msi;
    std::wstring token;
    bool has_token = false;
    DWORD ui_pid = 0;
    bool has_ui_pid = false;
    bool wait = true;
    bool timeline = false;
};

bool ParseOptions(int argc, wchar_t** argv, Options& out) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--no-wait") {
            out.wait = false;
            continue;
        }
        if (arg == L"--timeline") {
            out.timeline = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const wchar_t* value = argv[++i];
        if (arg == L"--updater") {
            out.updater = value;
        } else if (arg == L"--msi") {
            out.msi = value;
        } else if (arg == L"--token") {
            out.token = value;
            out.has_token = true;
        } else if (arg == L"--ui-pid") {
            if (!sample::ParseDword(value, out.ui_pid)) return false;
            out.has_ui_pid = true;
        } else {
            return false;
        }
    }
    // Following the update to its end would wait for this launcher as the old UI.
    if (out.timeline && (!out.has_ui_pid || !out.wait)) return false;
    return !out.updater.empty() && !out.msi.empty();
}

// A fresh GUID; should none be available, a token that is still unique on this machine.
std::wstring FreshToken() {
    const std::wstring token = sample::NewToken();
    if (!token.empty()) return token;
    return std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(GetCurrentProcessId());
}

std::wstring UpdaterCommandLine(const Options& options, const wchar_t* mode,
                                const std::wstring& first, const std::wstring& token) {
    return sample::QuoteArgument(options.updater) + L" " + mode + L" " +
           sample::QuoteArgument(first) + L" " + sample::QuoteArgument(token);
}

// Starts the updater with the given switch and arguments; returns its process, empty when it
// could not be started.
UniqueHandle StartUpdater(const Options& options, const wchar_t* mode, const std::wstring& first,
                    const std::wstring& token, const wchar_t* label) {
    std::wstring command = UpdaterCommandLine(options, mode, first, token);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(options.updater.c_str(), command.data(), nullptr, nullptr,
                        /*inherit=*/FALSE, 0, nullptr, nullptr, &startup, &process)) {
        wprintf(L"start-failed=%ls:%lu\n", label, GetLastError());
        return nullptr;
    }
    ProcessHandles owned = OwnProcessHandles(process);
    wprintf(L"%ls-pid=%lu\n", label, process.dwProcessId);
    fflush(stdout);
    return std::move(owned.process);
}

void WaitAndPrint(HANDLE process, const wchar_t* label) {
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process, &code)) {
        wprintf(L"%ls-exit=%lu\n", label, code);
    } else {
        wprintf(L"%ls-exit=unknown\n", label);
    }
    fflush(stdout);
}

bool HasEnded(HANDLE process) { return WaitForSingleObject(process, 0) != WAIT_TIMEOUT; }

// Looks at the update every 20 ms, and whenever a process ends, until both have ended.
void FollowUpdate(sample::UpdateTimeline& timeline, const Options& options,
                  const std::wstring& token, HANDLE installer, HANDLE watcher) {
    timeline.FollowStarted(
        GetProcessId(installer), L"installer mode",
        UpdaterCommandLine(options, L"--edk-remote-install-msi", options.msi, token));
    timeline.FollowStarted(
        GetProcessId(watcher), L"relaunch watcher",
        UpdaterCommandLine(options, L"--edk-remote-relaunch", std::to_wstring(options.ui_pid),
                           token));
    while (!HasEnded(installer) || !HasEnded(watcher)) timeline.WaitAndLook(20);
    timeline.Look();  // an end that came after the last look
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        fwprintf(stderr,
                 L"usage: sample-launcher.exe --updater <RemoteUpdater.exe> --msi <package> "
                 L"[--ui-pid <pid>] [--token <text>] [--no-wait | --timeline]\n");
        return 2;
    }
    const std::wstring token = options.has_token ? options.token : FreshToken();
    const DWORD ui_pid = options.has_ui_pid ? options.ui_pid : GetCurrentProcessId();
    wprintf(L"token=%ls\n", token.c_str());
    fflush(stdout);

    std::optional<sample::UpdateTimeline> timeline;
    if (options.timeline) {
        timeline.emplace(options.updater, options.msi);
        timeline->Look();  // the state before the update
    }
    const UniqueHandle installer = StartUpdater(options, L"--edk-remote-install-msi", options.msi,
                                                token, L"installer");
    const UniqueHandle watcher = StartUpdater(options, L"--edk-remote-relaunch",
                                              std::to_wstring(ui_pid), token, L"watcher");
    const bool started = installer && watcher;
    if (timeline && started) {
        FollowUpdate(*timeline, options, token, installer.get(), watcher.get());
        wprintf(L"record=%ls\nlast-launch=%ls\n", timeline->Record().c_str(),
                timeline->LastLaunch().c_str());
    }
    if (options.wait && installer) WaitAndPrint(installer.get(), L"installer");
    // The watcher waits for its old UI; when that is this launcher, it must end first.
    if (options.wait && options.has_ui_pid && watcher) WaitAndPrint(watcher.get(), L"watcher");
    return started ? 0 : 1;
}
