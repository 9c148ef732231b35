#include "service/road_folders.h"

#include <windows.h>

#include <aclapi.h>

#include <utility>
#include <vector>

#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "shared/unique_handles.h"
#include "win/client_identity.h"
#include "win/machine_registry.h"
#include "win/own_image.h"
#include "win/security_descriptor.h"

namespace road {

namespace {

std::wstring ErrorText(DWORD error) { return L"(error " + std::to_wstring(error) + L")"; }

// The account this service runs as (SYSTEM on Windows), as SID bytes; empty when it cannot be
// read.
std::vector<BYTE> ServiceAccount() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  const UniqueHandle token(raw);
  return TokenUserSid(token.get());
}

using Judge = FolderVerdict (*)(DWORD, PSECURITY_DESCRIPTOR, PSID);

// Judges the entry at `path` as it is, without following it if it is a link.
FolderVerdict CheckEntry(const std::wstring& path, PSID service_account, Judge judge) {
  const UniqueHandle folder = OwnHandle(
      ::CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, /*security=*/nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                    /*template_file=*/nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!folder || !::GetFileInformationByHandle(folder.get(), &information)) {
    return {false, L"cannot be read " + ErrorText(::GetLastError())};
  }
  PSECURITY_DESCRIPTOR raw = nullptr;
  const DWORD error = ::GetSecurityInfo(
      folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
      /*owner=*/nullptr, /*group=*/nullptr, /*dacl=*/nullptr, /*sacl=*/nullptr, &raw);
  const UniqueLocal<void> descriptor(raw);
  if (error != ERROR_SUCCESS) return {false, L"its security cannot be read " + ErrorText(error)};
  // cppcheck-suppress returnDanglingLifetime ; the verdict holds copies, no pointer into it
  return judge(information.dwFileAttributes, descriptor.get(), service_account);
}

// Renames the open `entry` to `to`, never replacing what is there.
[[nodiscard]] bool RenameOpenEntry(HANDLE entry, const std::wstring& to) {
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  to.copy(rename->FileName, to.size());
  return ::SetFileInformationByHandle(entry, FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size())) != FALSE;
}

// Renames the entry at `path`, never following it if it is a link, to
// "<path>.untrusted-<GUID>" beside it, a fresh GUID at each of kAsideAttempts tries, so that
// no name a user made in advance can stop it; returns the new path, or empty when it cannot.
std::wstring RenameAside(const std::wstring& path) {
  const UniqueHandle entry = OwnHandle(
      ::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    /*security=*/nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                    /*template_file=*/nullptr));
  for (int attempt = 0; entry && attempt < kAsideAttempts; ++attempt) {
    std::wstring aside = path + L".untrusted-" + NewToken();
    if (RenameOpenEntry(entry.get(), aside)) return aside;
  }
  return L"";
}

FolderVerdict PrepareLevel(const std::wstring& path, const wchar_t* sddl, PSID service_account);

// Makes a top level of the service's own in %ProgramData%, "Corvanta-<GUID>", a fresh GUID at
// each of kAsideAttempts tries, and records its name in HKLM, where every side of the road
// reads it (RoadTopName); returns its path, or empty when it cannot.
std::wstring MakeOwnTopLevel(const std::wstring& program_data, PSID service_account) {
  for (int attempt = 0; attempt < kAsideAttempts; ++attempt) {
    const std::wstring name = kOwnTopNamePrefix + NewToken();
    std::wstring path = PathIn(program_data, name);
    DWORD error = 0;
    // One that is there already was not made by the service: it is never used.
    if (!MakeFolder(path, kTopLevel.sddl, error) || error == ERROR_ALREADY_EXISTS) continue;
    if (!PrepareLevel(path, kTopLevel.sddl, service_account).trusted) continue;
    if (WriteMachineString(kRoadKeyPath, kRoadFolderValueName, name) != ERROR_SUCCESS) {
      return L"";
    }
    return path;
  }
  return L"";
}

// Makes the level at `path` with `sddl` when it is missing and judges it.
FolderVerdict PrepareLevel(const std::wstring& path, const wchar_t* sddl, PSID service_account) {
  DWORD error = 0;
  return MakeFolder(path, sddl, error)
             ? CheckEntry(path, service_account, JudgeFolder)
             : FolderVerdict{false, L"cannot be made " + ErrorText(error)};
}

}  // namespace

bool MakeFolder(const std::wstring& path, const wchar_t* sddl, DWORD& error) {
  const UniqueLocal<void> descriptor = DescriptorFromSddl(sddl);
  if (!descriptor) {
    error = ::GetLastError();
    return false;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(),
                                    /*bInheritHandle=*/FALSE};
  if (::CreateDirectoryW(path.c_str(), &attributes)) {
    error = ERROR_SUCCESS;
    return true;
  }
  error = ::GetLastError();
  return error == ERROR_ALREADY_EXISTS;
}

namespace {

// Makes and judges the road's top level, %ProgramData%\<RoadTopName()>. Any user may make it
// before the service first runs, and so own it: SYSTEM renames it aside then, and when even
// that fails (a user holds it open without delete sharing), makes a top level of its own.
// Returns the path of the top level to use, or empty with the reason in `prepared`.
std::wstring PrepareTopLevel(const std::wstring& program_data, PSID service_account,
                             RoadPreparation& prepared) {
  std::wstring path = PathIn(program_data, RoadTopName());
  FolderVerdict verdict = PrepareLevel(path, kTopLevel.sddl, service_account);
  if (verdict.trusted) return path;
  const std::wstring aside = RenameAside(path);
  if (!aside.empty()) {
    prepared.renamed_aside = path + L" (" + verdict.reason + L") to " + aside;
    if (PrepareLevel(path, kTopLevel.sddl, service_account).trusted) return path;
  }
  std::wstring own = MakeOwnTopLevel(program_data, service_account);
  if (!own.empty()) {
    prepared.own_top_level = own + L", since " + path + L" " + verdict.reason +
                             (aside.empty() ? L" and cannot be moved aside" : L"");
    return own;
  }
  prepared.verdict = {false, path + L": " + verdict.reason};
  return L"";
}

}  // namespace

RoadPreparation PrepareUpdateFolders() {
  RoadPreparation prepared;
  const std::wstring program_data = ProgramDataFolder();
  if (program_data.empty()) {
    prepared.verdict = {false, L"%ProgramData% is unknown"};
    return prepared;
  }
  std::vector<BYTE> account = ServiceAccount();
  const PSID service_account = account.empty() ? nullptr : account.data();
  const std::wstring top = PrepareTopLevel(program_data, service_account, prepared);
  if (top.empty()) return prepared;
  for (const RoadFolderLevel& level : kRoadFolderLevels) {
    if (*level.below_top == L'\0') continue;
    const std::wstring path = PathIn(top, level.below_top);
    const FolderVerdict verdict = PrepareLevel(path, level.sddl, service_account);
    if (!verdict.trusted) {
      prepared.verdict = {false, path + L": " + verdict.reason};
      return prepared;
    }
  }
  prepared.verdict = {true, L""};
  return prepared;
}

FolderVerdict CheckServiceFiles() {
  const std::wstring folder = OwnFolder();
  if (folder.empty()) return {false, L"the service's folder is unknown"};
  std::vector<BYTE> account = ServiceAccount();
  const PSID service_account = account.empty() ? nullptr : account.data();
  FolderVerdict verdict = CheckEntry(folder, service_account, JudgeFolder);
  if (!verdict.trusted) return {false, folder + L": " + verdict.reason};
  const std::wstring updater = PathIn(folder, kUpdaterFileName);
  verdict = CheckEntry(updater, service_account, JudgeFile);
  if (!verdict.trusted) return {false, updater + L": " + verdict.reason};
  // Staged as the update's guardian, which runs from the staging folder as LocalSystem.
  const std::wstring own_program = OwnImagePath();
  verdict = CheckEntry(own_program, service_account, JudgeFile);
  if (!verdict.trusted) return {false, own_program + L": " + verdict.reason};
  return {true, L""};
}

}  // namespace road
