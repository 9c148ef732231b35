// The contract of the sample product's update road: every name, path, access list, request,
// answer and record that its service, UI program, drivers and tests share, with a parser for
// each line so that nobody cuts strings by hand.
//
//   1. An administrator step places <name>.msi and <name>.msi.sha256 in Incoming.
//   2. The UI program, running as the user, checks that the pipe is served by the service and
//      sends "apply-pending-update".
//   3. The service stages RemoteUpdater.exe and the package in Staging\<token>, checks the
//      copy's SHA-256 and creates the watcher log; it answers "staged <token>" or
//      "refused: <reason>".
//   4. The UI starts the relaunch watcher from the staged copy with its own process id, then
//      sends "start <token>".
//   5. The service starts installer mode from the staged copy, once, for the token it staged
//      last; it answers "started <token>" or "refused: <reason>".
// The watcher thus runs before installer mode can end the UI that starts it.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <string>

#include "shared/updater_contract.h"
#include "win/win_helpers.h"

namespace road {

// The service, the updater and the update status record that installer mode publishes.
using updater_contract::kServiceName;
using updater_contract::kStatusKeyPath;
using updater_contract::kStatusValueName;
using updater_contract::kUpdaterFileName;

inline constexpr wchar_t kUpdatePipeName[] = L"\\\\.\\pipe\\CorvantaRemoteUpdate";
// Longer requests are malformed; nothing legitimate comes near it.
inline constexpr size_t kMaxRequestBytes = 256;

// The pipe: SYSTEM and Administrators full control; interactive users read and write data,
// but not FILE_CREATE_PIPE_INSTANCE (which GENERIC_WRITE would include), so that no user can
// put up a second instance of the pipe and answer in the service's name.
inline constexpr wchar_t kPipeSddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x0012019b;;;IU)";
// Corvanta, Updates, Staging and each staging folder: owned by SYSTEM; SYSTEM and
// Administrators full control, Users read and execute, nothing inherited from above.
inline constexpr wchar_t kFolderSddl[] =
    L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x001200a9;;;BU)";
// Incoming: owned by SYSTEM; SYSTEM and Administrators full control, Users no access, so that
// no user can read, add or swap a pending package.
inline constexpr wchar_t kIncomingSddl[] = L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The watcher log: Users read and append (FILE_APPEND_DATA), never rewrite, delete or change
// its access list, so that the watcher's lines stay as written.
inline constexpr wchar_t kWatcherLogSddl[] =
    L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x0012008d;;;BU)";

// Every level of the road below %ProgramData%, parents first, with the access list it is made
// with. The service makes the missing ones and checks them all at every start.
struct RoadFolderLevel {
    const wchar_t* below_program_data;
    const wchar_t* sddl;
};
inline constexpr RoadFolderLevel kRoadFolderLevels[] = {
    {L"\\Corvanta", kFolderSddl},
    {L"\\Corvanta\\Updates", kFolderSddl},
    {L"\\Corvanta\\Updates\\Incoming", kIncomingSddl},
    {L"\\Corvanta\\Updates\\Staging", kFolderSddl},
};

// The watcher's log, beside the staged updater.
inline std::wstring WatcherLogFileName() {
    return std::wstring(kUpdaterFileName) + updater_contract::kLogSuffix;
}
inline constexpr wchar_t kHashSuffix[] = L".sha256";
// Staging folders of finished updates are removed once this many later ones exist.
inline constexpr size_t kStagingFoldersKept = 3;

// The UI program's window class, and the command its "Apply update" button sends; drivers
// post the same command, as a user's click would.
inline constexpr wchar_t kUiWindowClass[] = L"CorvantaRemoteSampleWindow";
inline constexpr WORD kApplyUpdateCommand = 101;

// The lines the UI program writes in its log for each step, each followed by the answer, the
// process id or the reason.
inline constexpr wchar_t kUiAskedToStage[] = L"Asked the service to apply the pending update: ";
inline constexpr wchar_t kUiStartedWatcher[] = L"Started the relaunch watcher pid ";
inline constexpr wchar_t kUiAskedToStart[] = L"Asked the service to start the update: ";
// The service's log line for installer mode, followed by its process id.
inline constexpr wchar_t kServiceStartedInstaller[] = L"Started installer mode pid ";

// The service's state and host process id as the service manager reports them; all 0 when
// the service cannot be queried.
inline SERVICE_STATUS_PROCESS ServiceStatus() {
    SERVICE_STATUS_PROCESS status = {};
    const UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueScHandle service(
        manager ? OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS) : nullptr);
    DWORD needed = 0;
    if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                          reinterpret_cast<BYTE*>(&status), sizeof(status),
                                          &needed)) {
        return {};
    }
    return status;
}

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

// The requests, one line each, ended by "\n".
inline constexpr char kApplyRequest[] = "apply-pending-update";
inline constexpr char kStartRequest[] = "start ";  // followed by the token
// The answers, one line each: "staged <token>", "started <token>" or "refused: <reason>".
inline constexpr char kStagedAnswer[] = "staged ";
inline constexpr char kStartedAnswer[] = "started ";
inline constexpr char kRefusedAnswer[] = "refused: ";

inline std::string ApplyRequestLine() { return std::string(kApplyRequest) + "\n"; }
inline std::string StartRequestLine(const std::wstring& token) {
    return kStartRequest + Utf8(token) + "\n";
}

// One request, as the service reads it (the line without its end).
struct Request {
    enum class Kind { kApplyPending, kStart, kUnknown } kind = Kind::kUnknown;
    std::wstring token;  // for kStart, always well formed
};
inline Request ParseRequest(const std::string& line) {
    if (line == kApplyRequest) return {Request::Kind::kApplyPending, L""};
    const std::string start = kStartRequest;
    if (line.compare(0, start.size(), start) == 0) {
        const std::wstring token = WidenAscii(line.substr(start.size()));
        if (IsWellFormedToken(token)) return {Request::Kind::kStart, token};
    }
    return {};
}

// One answer, as a client reads it (with or without its line end). kNone is no answer at all:
// the client's own "no answer: <why>" or a line that is none of the three.
struct Answer {
    enum class Kind { kStaged, kStarted, kRefused, kNone } kind = Kind::kNone;
    std::wstring token;  // for kStaged and kStarted, always well formed
    std::string text;    // the reason of kRefused, the whole line of kNone
};
inline Answer ParseAnswer(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    for (const auto& [prefix, kind] : {std::pair{kStagedAnswer, Answer::Kind::kStaged},
                                       std::pair{kStartedAnswer, Answer::Kind::kStarted}}) {
        const std::string expected = prefix;
        if (line.compare(0, expected.size(), expected) != 0) continue;
        const std::wstring token = WidenAscii(line.substr(expected.size()));
        if (IsWellFormedToken(token)) return {kind, token, ""};
    }
    const std::string refused = kRefusedAnswer;
    if (line.compare(0, refused.size(), refused) == 0) {
        return {Answer::Kind::kRefused, L"", line.substr(refused.size())};
    }
    return {Answer::Kind::kNone, L"", line};
}

// The update status record, "<token>|<outcome>" (for instance "<token>|completed").
struct StatusRecord {
    std::wstring token;
    std::wstring outcome;
};
inline StatusRecord ParseStatusRecord(const std::wstring& text) {
    const size_t bar = text.find(L'|');
    if (bar == std::wstring::npos) return {L"", text};
    return {text.substr(0, bar), text.substr(bar + 1)};
}
inline std::wstring ReadStatusRecord() { return ReadMachineString(kStatusKeyPath, kStatusValueName); }

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

}  // namespace road
