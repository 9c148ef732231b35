// The road of an update in the sample product, as the service, the UI program, the drivers and
// the tests share it:
//
//   1. An administrator step places <name>.msi and <name>.msi.sha256 in Incoming.
//   2. The UI program, running as the user, sends "apply-pending-update" through the pipe.
//   3. The service stages RemoteUpdater.exe and the package in Staging\<token>, checks the
//      copy's SHA-256, creates the watcher log and starts installer mode from the staged copy;
//      it answers "started <token>" or "refused: <reason>".
//   4. The UI starts the relaunch watcher from the staged copy with its own process id.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <string>

#include "sample_common.h"

namespace sample {

inline constexpr wchar_t kUpdatePipeName[] = L"\\\\.\\pipe\\CorvantaRemoteUpdate";
inline constexpr char kApplyRequest[] = "apply-pending-update";
// Longer requests are malformed; nothing legitimate comes near it.
inline constexpr size_t kMaxRequestBytes = 256;

// The pipe: SYSTEM and Administrators full control; interactive users read and write data,
// but not FILE_CREATE_PIPE_INSTANCE (which GENERIC_WRITE would include), so that no user can
// put up a second instance of the pipe and answer in the service's name.
inline constexpr wchar_t kPipeSddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x0012019b;;;IU)";
// Incoming, Staging and each staging folder: SYSTEM and Administrators full control, Users
// read and execute, nothing inherited from above.
inline constexpr wchar_t kFolderSddl[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x001200a9;;;BU)";
// The watcher log: Users read and append (FILE_APPEND_DATA), never rewrite, delete or change
// its access list, so that the watcher's lines stay as written.
inline constexpr wchar_t kWatcherLogSddl[] =
    L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x0012008d;;;BU)";

inline constexpr wchar_t kUpdaterFileName[] = L"RemoteUpdater.exe";
inline constexpr wchar_t kWatcherLogFileName[] = L"RemoteUpdater.exe.log";
inline constexpr wchar_t kHashSuffix[] = L".sha256";
// Staging folders of finished updates are removed once this many later ones exist.
inline constexpr size_t kStagingFoldersKept = 3;

// The UI program's window class, and the command its "Apply update" button sends; drivers
// post the same command, as a user's click would.
inline constexpr wchar_t kUiWindowClass[] = L"CorvantaRemoteSampleWindow";
inline constexpr WORD kApplyUpdateCommand = 101;

struct CoTaskMemoryFreer {
    void operator()(void* memory) const noexcept { CoTaskMemFree(memory); }
};

// A known folder as the shell knows it, not as the environment says: a user's environment
// must not move the service's folders. Empty when unknown.
inline std::wstring KnownFolder(const KNOWNFOLDERID& id) {
    wchar_t* raw = nullptr;
    const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &raw);
    const std::unique_ptr<wchar_t, CoTaskMemoryFreer> folder(raw);
    return SUCCEEDED(result) && folder ? std::wstring(folder.get()) : std::wstring();
}

inline std::wstring ProgramDataFolder() { return KnownFolder(FOLDERID_ProgramData); }

// `folder` + `rest`, or empty when `folder` is unknown: a path must never fall back to the
// root of the current drive, where any user may create folders.
inline std::wstring Below(const std::wstring& folder, const std::wstring& rest) {
    return folder.empty() ? folder : folder + rest;
}

inline std::wstring UpdatesFolder() {
    return Below(ProgramDataFolder(), L"\\Corvanta\\Updates");
}
inline std::wstring IncomingFolder() { return Below(UpdatesFolder(), L"\\Incoming"); }
inline std::wstring StagingRoot() { return Below(UpdatesFolder(), L"\\Staging"); }
inline std::wstring StagingFolder(const std::wstring& token) {
    return Below(StagingRoot(), L"\\" + token);
}
// The service's own log of the requests it answered and the updates it staged.
inline std::wstring ServiceLogPath() {
    return Below(UpdatesFolder(), L"\\CorvantaRemoteService.log");
}

// The UI program's log, in the user's own profile. Empty when unknown.
inline std::wstring UiLogPath() {
    return Below(KnownFolder(FOLDERID_LocalAppData), L"\\Corvanta\\Corvanta Remote.log");
}

// A token as the service makes them: a GUID without braces. Checked before a token from the
// pipe becomes part of a path.
inline bool IsWellFormedToken(const std::wstring& token) {
    if (token.size() != 36) return false;
    for (size_t i = 0; i < token.size(); ++i) {
        const wchar_t c = token[i];
        const bool dash_place = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') ||
                         (c >= L'A' && c <= L'F');
        if (dash_place ? c != L'-' : !hex) return false;
    }
    return true;
}

// A fresh update token: a GUID without braces; empty when none can be made.
inline std::wstring NewToken() {
    GUID guid = {};
    wchar_t text[64] = {};
    if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, text, 64) == 0) return L"";
    const std::wstring braced = text;
    return braced.substr(1, braced.size() - 2);
}

// A security descriptor made from one of the SDDL strings above.
inline UniqueLocal<void> DescriptorFromSddl(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        return nullptr;
    }
    return UniqueLocal<void>(descriptor);
}

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
inline std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double before a quote, and the quote itself is escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// Starts `program` by its absolute path with a quoted command line, no inherited handles and
// `folder` as current folder. Empty owners and the error in `error` when it cannot.
inline ProcessHandles StartFromFolder(const std::wstring& program, const std::wstring& arguments,
                                      const std::wstring& folder, DWORD& error) {
    std::wstring command_line = QuoteArgument(program) + L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr,
                        /*inherit_handles=*/FALSE, 0, /*environment=*/nullptr, folder.c_str(),
                        &startup, &info)) {
        error = GetLastError();
        return {};
    }
    error = ERROR_SUCCESS;
    return OwnProcessHandles(info);
}

// The top-level window of the UI program running as process `pid`; null when there is none.
inline HWND FindUiWindow(DWORD pid) {
    struct Search {
        DWORD pid;
        HWND found;
    } search{pid, nullptr};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (owner != s->pid || lstrcmpW(name, kUiWindowClass) != 0) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Asks the UI program running as `pid` to apply the pending update, as a click on its button
// would; waits up to `wait_ms` for its window. False when it has none.
inline bool ClickApplyUpdate(DWORD pid, DWORD wait_ms) {
    for (DWORD waited = 0;; waited += 50) {
        const HWND window = FindUiWindow(pid);
        if (window != nullptr) {
            return PostMessageW(window, WM_COMMAND, MAKEWPARAM(kApplyUpdateCommand, BN_CLICKED),
                                0) != FALSE;
        }
        if (waited >= wait_ms) return false;
        Sleep(50);
    }
}

// Sends `request` through the update pipe exactly as given and returns the service's answer up
// to and including its line end; when there is none, "no answer: " and why. The service may
// identify the client, and do nothing in its name.
inline std::string ExchangeWithService(const std::string& request) {
    UniqueHandle pipe;
    // The one instance serves one client at a time: a busy pipe is waited for.
    for (int attempt = 0; attempt < 100 && !pipe; ++attempt) {
        // FILE_WRITE_DATA, not GENERIC_WRITE: the pipe grants users no more (GENERIC_WRITE
        // would ask for FILE_CREATE_PIPE_INSTANCE too and be denied).
        pipe = OwnHandle(CreateFileW(kUpdatePipeName, GENERIC_READ | FILE_WRITE_DATA, 0, nullptr,
                                     OPEN_EXISTING,
                                     SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        const DWORD error = GetLastError();
        if (!pipe && error != ERROR_PIPE_BUSY) {
            return "no answer: the update service cannot be reached (error " +
                   std::to_string(error) + ")";
        }
        if (!pipe) WaitNamedPipeW(kUpdatePipeName, 100);
    }
    if (!pipe) return "no answer: the update service is busy";
    DWORD written = 0;
    if (!WriteFile(pipe.get(), request.data(), static_cast<DWORD>(request.size()), &written,
                   nullptr)) {
        const DWORD error = GetLastError();
        return "no answer: the request could not be sent (error " + std::to_string(error) + ")";
    }
    std::string answer;
    char chunk[128];
    DWORD read = 0;
    while (answer.find('\n') == std::string::npos && answer.size() < 1024 &&
           ReadFile(pipe.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        answer.append(chunk, read);
    }
    const size_t end = answer.find('\n');
    return end == std::string::npos ? "no answer: the service closed the channel"
                                    : answer.substr(0, end + 1);
}

}  // namespace sample
