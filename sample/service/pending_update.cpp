#include "pending_update.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <vector>

#include "update_road.h"

namespace sample {

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

// Makes `path` with `sddl` as its access list; an existing folder counts as made when
// `may_exist`.
bool CreateFolderWithSddl(const std::wstring& path, const wchar_t* sddl, bool may_exist) {
    const UniqueLocal<void> descriptor = DescriptorFromSddl(sddl);
    if (!descriptor) return false;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(),
                                      /*bInheritHandle=*/FALSE};
    if (CreateDirectoryW(path.c_str(), &attributes)) return true;
    return may_exist && GetLastError() == ERROR_ALREADY_EXISTS;
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

// Removes a staging folder and the files in it; best effort, a later update tries again.
void RemoveStagingFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW data = {};
    {
        const UniqueFind find = FindFirst(folder + L"\\*", data);
        for (bool more = find != nullptr; more; more = FindNextFileW(find.get(), &data) != FALSE) {
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                DeleteFileW((folder + L"\\" + data.cFileName).c_str());
            }
        }
    }
    if (RemoveDirectoryW(folder.c_str())) {
        NoteInServiceLog(L"Removed the staging folder " + folder);
    }
}

// Keeps the newest staging folders (the one just made among them) and removes the others.
void RemoveOldStagingFolders() {
    std::vector<std::pair<ULONGLONG, std::wstring>> folders;
    WIN32_FIND_DATAW data = {};
    {
        const UniqueFind find = FindFirst(StagingRoot() + L"\\*", data);
        for (bool more = find != nullptr; more; more = FindNextFileW(find.get(), &data) != FALSE) {
            const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (folder && IsWellFormedToken(data.cFileName)) {
                folders.emplace_back(Ticks(data.ftCreationTime), data.cFileName);
            }
        }
    }
    std::sort(folders.rbegin(), folders.rend());
    for (size_t i = kStagingFoldersKept; i < folders.size(); ++i) {
        RemoveStagingFolder(StagingFolder(folders[i].second));
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
        CreateFileW((staging + L"\\" + kWatcherLogFileName).c_str(), FILE_READ_ATTRIBUTES, 0,
                    &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return log != nullptr;
}

std::string Refuse(const std::string& reason) {
    NoteInServiceLog(L"Refused: " + WidenAscii(reason));
    return "refused: " + reason;
}

// Fills the new staging folder and starts installer mode from it; returns why it could not,
// or empty.
std::string StageAndStartInstaller(const std::wstring& package, const std::wstring& staging,
                                   const std::wstring& token, UpdateState& state) {
    if (!StageFiles(package, staging)) return "staging failed";
    if (!PackageHashMatches(package, staging)) return "package hash mismatch";
    if (!CreateWatcherLog(staging)) return "staging failed";
    const std::wstring updater = staging + L"\\" + kUpdaterFileName;
    DWORD error = 0;
    const std::wstring arguments = L"--edk-remote-install-msi " +
                                   QuoteArgument(staging + L"\\" + package) + L" " + token;
    ProcessHandles installer = StartFromFolder(updater, arguments, staging, error);
    if (!installer.process) {
        NoteInServiceLog(L"Could not start installer mode (error " + Number(error) + L")");
        return "installer mode could not start";
    }
    NoteInServiceLog(L"Started installer mode pid " +
                     Number(GetProcessId(installer.process.get())) + L" from " + updater +
                     L", token " + token);
    state.installer = std::move(installer.process);
    return "";
}

}  // namespace

void NoteInServiceLog(const std::wstring& line) {
    if (!ServiceLogPath().empty()) AppendLine(ServiceLogPath(), line);
}

bool PrepareUpdateFolders() noexcept {
    if (UpdatesFolder().empty()) return false;
    CreateDirectoryW((ProgramDataFolder() + L"\\Corvanta").c_str(), nullptr);
    return CreateFolderWithSddl(UpdatesFolder(), kFolderSddl, /*may_exist=*/true) &&
           CreateFolderWithSddl(IncomingFolder(), kFolderSddl, /*may_exist=*/true) &&
           CreateFolderWithSddl(StagingRoot(), kFolderSddl, /*may_exist=*/true);
}

std::string ApplyPendingUpdate(UpdateState& state) {
    if (state.installer && WaitForSingleObject(state.installer.get(), 0) == WAIT_TIMEOUT) {
        return Refuse("an update is already running");
    }
    if (UpdatesFolder().empty()) return Refuse("staging failed");
    const std::wstring package = FindPendingPackage();
    if (package.empty()) return Refuse("no pending package");
    const std::wstring token = NewToken();
    const std::wstring staging = StagingFolder(token);
    if (token.empty() || !CreateFolderWithSddl(staging, kFolderSddl, /*may_exist=*/false)) {
        return Refuse("staging failed");
    }
    const std::string failure = StageAndStartInstaller(package, staging, token, state);
    if (!failure.empty()) {
        RemoveStagingFolder(staging);
        return Refuse(failure);
    }
    // Applied: the same package is not handed over twice.
    DeleteFileW((IncomingFolder() + L"\\" + package + kHashSuffix).c_str());
    DeleteFileW((IncomingFolder() + L"\\" + package).c_str());
    RemoveOldStagingFolders();
    return "started " + Utf8(token);
}

std::string AnswerRequest(const std::string& request, bool well_formed, UpdateState& state) {
    if (!well_formed) return Refuse("malformed request");
    if (request != kApplyRequest) return Refuse("unknown request");
    NoteInServiceLog(L"Request: apply-pending-update");
    return ApplyPendingUpdate(state);
}

}  // namespace sample
