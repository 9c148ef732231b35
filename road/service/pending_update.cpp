#include "service/pending_update.h"

#include <windows.h>
#include <aclapi.h>
#include <bcrypt.h>

#include <algorithm>
#include <vector>

#include "service/folder_rules.h"
#include "contract/road_contract.h"

namespace road {

namespace {

struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE algorithm) const noexcept {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};
struct HashDestroyer {
    void operator()(BCRYPT_HASH_HANDLE hash) const noexcept { BCryptDestroyHash(hash); }
};
using UniqueAlgorithm = std::unique_ptr<void, AlgorithmCloser>;
using UniqueHash = std::unique_ptr<void, HashDestroyer>;

std::wstring Number(DWORD value) { return std::to_wstring(value); }

ULONGLONG Ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Set at every start by PrepareUpdateFolders: false while one level of the road is not the
// service's own, and then nothing is written there and every update request is refused.
bool g_folders_trusted = false;

struct EventSourceCloser {
    void operator()(HANDLE source) const noexcept { DeregisterEventSource(source); }
};
using UniqueEventSource = std::unique_ptr<std::remove_pointer_t<HANDLE>, EventSourceCloser>;

// Where the service's lines go while its own folder cannot take them.
void NoteInEventLog(const std::wstring& line) {
    const UniqueEventSource source(RegisterEventSourceW(nullptr, kServiceName));
    const wchar_t* strings[] = {line.c_str()};
    if (source) {
        ReportEventW(source.get(), EVENTLOG_WARNING_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
    }
}

// Makes `path` with `sddl` (owner and access list) when it is missing. False, with the error
// in `error`, when it can neither be made nor found.
bool MakeFolder(const std::wstring& path, const wchar_t* sddl, DWORD& error) {
    const UniqueLocal<void> descriptor = DescriptorFromSddl(sddl);
    if (!descriptor) {
        error = GetLastError();
        return false;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(),
                                      /*bInheritHandle=*/FALSE};
    if (CreateDirectoryW(path.c_str(), &attributes)) return true;
    error = GetLastError();
    return error == ERROR_ALREADY_EXISTS;
}

// The account this service runs as (SYSTEM on Windows); empty when it cannot be read.
std::vector<BYTE> ServiceAccount() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
    const UniqueHandle token(raw);
    std::vector<BYTE> user(sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE);
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, user.data(),
                             static_cast<DWORD>(user.size()), &size)) {
        return {};
    }
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

// Judges the folder at `path` as it is, without following it if it is a link.
FolderVerdict CheckFolder(const std::wstring& path, PSID service_account) {
    const UniqueHandle folder = OwnHandle(CreateFileW(
        path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!folder || !GetFileInformationByHandle(folder.get(), &information)) {
        return {false, L"cannot be read (error " + Number(GetLastError()) + L")"};
    }
    PSECURITY_DESCRIPTOR raw = nullptr;
    const DWORD error = GetSecurityInfo(
        folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        nullptr, nullptr, nullptr, nullptr, &raw);
    const UniqueLocal<void> descriptor(raw);
    if (error != ERROR_SUCCESS) {
        return {false, L"its security cannot be read (error " + Number(error) + L")"};
    }
    return JudgeFolder(information.dwFileAttributes, descriptor.get(), service_account);
}

// The package placed last in Incoming: the newest <name>.msi.sha256 whose package is there.
// Returns <name>.msi, or empty.
std::wstring FindPendingPackage() {
    WIN32_FIND_DATAW data = {};
    const UniqueFind find = FindFirst(IncomingFolder() + L"\\*.msi.sha256", data);
    std::wstring newest;
    ULONGLONG newest_time = 0;
    for (bool more = find != nullptr; more; more = FindNextFileW(find.get(), &data) != FALSE) {
        std::wstring package = data.cFileName;
        package.resize(package.size() - wcslen(kHashSuffix));
        const bool present =
            GetFileAttributesW((IncomingFolder() + L"\\" + package).c_str()) !=
            INVALID_FILE_ATTRIBUTES;
        if (present && (newest.empty() || Ticks(data.ftLastWriteTime) >= newest_time)) {
            newest = package;
            newest_time = Ticks(data.ftLastWriteTime);
        }
    }
    return newest;
}

// The lowercase hex SHA-256 a .sha256 file starts with (optionally followed by whitespace and
// anything); empty when it does not start with one.
std::string ReadExpectedHash(const std::wstring& path) {
    const UniqueHandle file = OwnHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
    char text[66] = {};
    DWORD read = 0;
    if (!file || !ReadFile(file.get(), text, sizeof(text) - 1, &read, nullptr) || read < 64) {
        return "";
    }
    const std::string hash(text, 64);
    const bool hex = hash.find_first_not_of("0123456789abcdef") == std::string::npos;
    const bool ends = read == 64 || text[64] == ' ' || text[64] == '\t' || text[64] == '\r' ||
                      text[64] == '\n';
    return hex && ends ? hash : "";
}

// Lowercase hex SHA-256 of the file's bytes; empty when it cannot be read.
std::string Sha256OfFile(const std::wstring& path) {
    BCRYPT_ALG_HANDLE raw_algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&raw_algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        return "";
    }
    const UniqueAlgorithm algorithm(raw_algorithm);
    BCRYPT_HASH_HANDLE raw_hash = nullptr;
    if (BCryptCreateHash(raw_algorithm, &raw_hash, nullptr, 0, nullptr, 0, 0) != 0) return "";
    const UniqueHash hash(raw_hash);
    const UniqueHandle file = OwnHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return "";
    std::vector<UCHAR> chunk(1 << 16);
    DWORD read = 0;
    while (ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) &&
           read > 0) {
        if (BCryptHashData(raw_hash, chunk.data(), read, 0) != 0) return "";
    }
    UCHAR digest[32] = {};
    if (BCryptFinishHash(raw_hash, digest, sizeof(digest), 0) != 0) return "";
    std::string hex;
    for (const UCHAR byte : digest) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
}

// Removes what was found at `path` with `attributes`, never following a link: a junction or
// link is removed itself, and what it points to is not touched. Best effort: what is left, a
// later update tries again.
bool RemoveEntry(const std::wstring& path, DWORD attributes) {
    switch (HowToRemove(attributes)) {
        case Removal::kDeleteFile:
            return DeleteFileW(path.c_str()) != FALSE;
        case Removal::kRemoveLink:
            return RemoveDirectoryW(path.c_str()) != FALSE;
        case Removal::kEmptyAndRemove:
            break;
    }
    WIN32_FIND_DATAW data = {};
    {
        const UniqueFind find = FindFirst(path + L"\\*", data);
        for (bool more = find != nullptr; more; more = FindNextFileW(find.get(), &data) != FALSE) {
            const std::wstring name = data.cFileName;
            if (name != L"." && name != L"..") {
                RemoveEntry(path + L"\\" + name, data.dwFileAttributes);
            }
        }
    }
    return RemoveDirectoryW(path.c_str()) != FALSE;
}

void RemoveStagingFolder(const std::wstring& folder, DWORD attributes) {
    if (RemoveEntry(folder, attributes)) NoteInServiceLog(L"Removed the staging folder " + folder);
}

// Keeps the newest staging folders (the one just made among them) and removes the others.
void RemoveOldStagingFolders() {
    struct Found {
        ULONGLONG created;
        std::wstring token;
        DWORD attributes;
        bool operator<(const Found& other) const { return created < other.created; }
    };
    std::vector<Found> folders;
    WIN32_FIND_DATAW data = {};
    {
        const UniqueFind find = FindFirst(StagingRoot() + L"\\*", data);
        for (bool more = find != nullptr; more; more = FindNextFileW(find.get(), &data) != FALSE) {
            if (IsWellFormedToken(data.cFileName)) {
                folders.push_back({Ticks(data.ftCreationTime), data.cFileName,
                                   data.dwFileAttributes});
            }
        }
    }
    std::sort(folders.rbegin(), folders.rend());
    for (size_t i = kStagingFoldersKept; i < folders.size(); ++i) {
        RemoveStagingFolder(StagingFolder(folders[i].token), folders[i].attributes);
    }
}

// Copies the updater beside this service and the package into the new staging folder.
bool StageFiles(const std::wstring& package, const std::wstring& staging) {
    const std::wstring updater = FolderOf(OwnImagePath()) + L"\\" + kUpdaterFileName;
    const std::wstring incoming = IncomingFolder() + L"\\" + package;
    for (const auto& [from, to] : {std::pair{updater, staging + L"\\" + kUpdaterFileName},
                                   std::pair{incoming, staging + L"\\" + package}}) {
        if (!CopyFileW(from.c_str(), to.c_str(), /*fail_if_exists=*/TRUE)) {
            const DWORD error = GetLastError();
            NoteInServiceLog(L"Could not copy " + from + L" to " + to + L" (error " +
                             Number(error) + L")");
            return false;
        }
    }
    NoteInServiceLog(L"Staged " + package + L" and " + kUpdaterFileName + L" in " + staging);
    return true;
}

// Checks the staged copy, not the incoming file, so that nothing can be swapped in after the
// check.
bool PackageHashMatches(const std::wstring& package, const std::wstring& staging) {
    const std::string expected =
        ReadExpectedHash(IncomingFolder() + L"\\" + package + kHashSuffix);
    const std::string actual = Sha256OfFile(staging + L"\\" + package);
    const bool matches = !expected.empty() && actual == expected;
    NoteInServiceLog(std::wstring(L"Package hash ") + (matches ? L"checked" : L"mismatch") +
                     L": expected " + (expected.empty() ? L"(none)" : WidenAscii(expected)) +
                     L", staged copy " + (actual.empty() ? L"(unreadable)" : WidenAscii(actual)));
    return matches;
}

// The watcher runs as the user and may only append to its log.
bool CreateWatcherLog(const std::wstring& staging) {
    const UniqueLocal<void> descriptor = DescriptorFromSddl(kWatcherLogSddl);
    if (!descriptor) return false;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(),
                                      /*bInheritHandle=*/FALSE};
    const UniqueHandle log = OwnHandle(
        CreateFileW((staging + L"\\" + WatcherLogFileName()).c_str(), FILE_READ_ATTRIBUTES, 0,
                    &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return log != nullptr;
}

std::string Refuse(const std::string& reason) {
    NoteInServiceLog(L"Refused: " + WidenAscii(reason));
    return kRefusedAnswer + reason;
}

// Fills the new staging folder; returns why it could not, or empty.
std::string Stage(const std::wstring& package, const std::wstring& staging) {
    if (!StageFiles(package, staging)) return "staging failed";
    if (!PackageHashMatches(package, staging)) return "package hash mismatch";
    if (!CreateWatcherLog(staging)) return "staging failed";
    return "";
}

// Forgets the update staged but not started, and removes its folder: it can no longer start.
void DropStagedUpdate(UpdateState& state) {
    if (state.staged_token.empty()) return;
    NoteInServiceLog(L"Dropped the update staged as " + state.staged_token + L", never started");
    const std::wstring folder = StagingFolder(state.staged_token);
    RemoveStagingFolder(folder, GetFileAttributesW(folder.c_str()));
    state.staged_token.clear();
    state.staged_package.clear();
}

bool InstallerRuns(const UpdateState& state) {
    return state.installer && WaitForSingleObject(state.installer.get(), 0) == WAIT_TIMEOUT;
}

// Stages the newest pending package under a fresh token, to be started by StartStaged.
std::string StagePendingUpdate(ULONG session, UpdateState& state) {
    if (InstallerRuns(state)) return Refuse("an update is already running");
    DropStagedUpdate(state);
    const std::wstring package = FindPendingPackage();
    if (package.empty()) return Refuse("no pending package");
    const std::wstring token = NewToken();
    const std::wstring staging = StagingFolder(token);
    DWORD error = 0;
    if (token.empty() || staging.empty() || !MakeFolder(staging, kFolderSddl, error) ||
        error == ERROR_ALREADY_EXISTS) {
        return Refuse("staging failed");
    }
    const std::string failure = Stage(package, staging);
    if (!failure.empty()) {
        RemoveStagingFolder(staging, GetFileAttributesW(staging.c_str()));
        return Refuse(failure);
    }
    state.staged_token = token;
    state.staged_package = package;
    state.staged_session = session;
    return kStagedAnswer + Utf8(token);
}

// Starts installer mode from the staging folder of `token`, the update staged last, once, for
// a client in the session that staged it: a user of another session who lists Staging and
// sees the token cannot start the update before its user interface has started the watcher.
std::string StartStaged(const std::wstring& token, ULONG session, UpdateState& state) {
    if (InstallerRuns(state)) return Refuse("an update is already running");
    if (state.staged_token.empty() || token != state.staged_token ||
        session != state.staged_session) {
        return Refuse("no update staged as " + Utf8(token));
    }
    const std::wstring package = state.staged_package;
    state.staged_token.clear();
    state.staged_package.clear();
    const std::wstring staging = StagingFolder(token);
    const std::wstring updater = staging + L"\\" + kUpdaterFileName;
    DWORD error = 0;
    const std::wstring arguments = L"--edk-remote-install-msi " +
                                   QuoteArgument(staging + L"\\" + package) + L" " + token;
    ProcessHandles installer = StartFromFolder(updater, arguments, staging, error);
    if (!installer.process) {
        NoteInServiceLog(L"Could not start installer mode (error " + Number(error) + L")");
        RemoveStagingFolder(staging, GetFileAttributesW(staging.c_str()));
        return Refuse("installer mode could not start");
    }
    NoteInServiceLog(kServiceStartedInstaller + Number(GetProcessId(installer.process.get())) +
                     L" from " + updater + L", token " + token);
    state.installer = std::move(installer.process);
    // Started: the same package is not handed over twice.
    DeleteFileW((IncomingFolder() + L"\\" + package + kHashSuffix).c_str());
    DeleteFileW((IncomingFolder() + L"\\" + package).c_str());
    RemoveOldStagingFolders();
    return kStartedAnswer + Utf8(token);
}

}  // namespace

void NoteInServiceLog(const std::wstring& line) {
    if (!g_folders_trusted || ServiceLogPath().empty()) {
        NoteInEventLog(line);
    } else {
        AppendLine(ServiceLogPath(), line);
    }
}

FolderVerdict PrepareUpdateFolders() {
    g_folders_trusted = false;
    const std::wstring program_data = ProgramDataFolder();
    if (program_data.empty()) return {false, L"%ProgramData% is unknown"};
    std::vector<BYTE> account = ServiceAccount();
    for (const RoadFolderLevel& level : kRoadFolderLevels) {
        const std::wstring path = program_data + level.below_program_data;
        DWORD error = 0;
        FolderVerdict verdict =
            MakeFolder(path, level.sddl, error)
                ? CheckFolder(path, account.empty() ? nullptr : account.data())
                : FolderVerdict{false, L"cannot be made (error " + Number(error) + L")"};
        if (!verdict.trusted) return {false, path + L": " + verdict.reason};
    }
    g_folders_trusted = true;
    return {true, L""};
}

std::string AnswerRequest(const std::string& line, bool well_formed, ULONG session,
                          UpdateState& state) {
    if (!well_formed) return Refuse("malformed request");
    const Request request = ParseRequest(line);
    if (request.kind == Request::Kind::kUnknown) return Refuse("unknown request");
    NoteInServiceLog(L"Request: " + WidenAscii(line));
    if (!g_folders_trusted) return Refuse("the update folders are not the service's own");
    if (request.kind == Request::Kind::kStart) return StartStaged(request.token, session, state);
    return StagePendingUpdate(session, state);
}

}  // namespace road
