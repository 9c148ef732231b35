#include "service/road_folders.h"

#include <windows.h>

#include <aclapi.h>

#include <utility>
#include <vector>

#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "shared/unique_handles.h"
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
  std::vector<BYTE> user(sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE);
  DWORD size = 0;
  if (!::GetTokenInformation(token.get(), TokenUser, user.data(), static_cast<DWORD>(user.size()),
                             &size)) {
    return {};
  }
  const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + ::GetLengthSid(sid));
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

// Renames the entry at `path`, never following it if it is a link, to "<path>.untrusted-<n>"
// beside it; returns the new path, or empty when it cannot.
std::wstring RenameAside(const std::wstring& path) {
  const UniqueHandle entry = OwnHandle(
      ::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    /*security=*/nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                    /*template_file=*/nullptr));
  if (!entry) return L"";
  std::wstring aside = path + L".untrusted-" + std::to_wstring(::GetTickCount64());
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + aside.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->FileNameLength = static_cast<DWORD>(aside.size() * sizeof(wchar_t));
  aside.copy(rename->FileName, aside.size());
  if (!::SetFileInformationByHandle(entry.get(), FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size()))) {
    return L"";
  }
  return aside;
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

RoadPreparation PrepareUpdateFolders() {
  RoadPreparation prepared;
  const std::wstring program_data = ProgramDataFolder();
  if (program_data.empty()) {
    prepared.verdict = {false, L"%ProgramData% is unknown"};
    return prepared;
  }
  std::vector<BYTE> account = ServiceAccount();
  const PSID service_account = account.empty() ? nullptr : account.data();
  for (const RoadFolderLevel& level : kRoadFolderLevels) {
    const std::wstring path = PathIn(program_data, level.below_program_data);
    FolderVerdict verdict = PrepareLevel(path, level.sddl, service_account);
    // Any user may make the top level before the service first runs, and so own it; SYSTEM
    // may rename what is in %ProgramData%, whoever holds it open.
    if (!verdict.trusted &&
        std::wstring(level.below_program_data) == kTopLevel.below_program_data) {
      const std::wstring aside = RenameAside(path);
      if (!aside.empty()) {
        prepared.renamed_aside.append(path).append(L" (").append(verdict.reason);
        prepared.renamed_aside.append(L") to ").append(aside);
        verdict = PrepareLevel(path, level.sddl, service_account);
      }
    }
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
