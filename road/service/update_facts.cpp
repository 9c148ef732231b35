#include "service/update_facts.h"

#include <shlobj.h>
#include <tlhelp32.h>
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "shared/ascii_case.h"
#include "shared/unique_handles.h"
#include "shared/updater_contract.h"

namespace road {

namespace {

constexpr DWORD kImagePathUnits = 32768;

// Access denied still shows that the mutex exists. Any other error leaves the state unknown,
// which refuses the update: a refusal costs the user a later try, while an installation
// started beside another one stops the service and ends every copy of the program, only to
// end with 1618. A name held by another kind of object (ERROR_INVALID_HANDLE) keeps the
// Windows Installer from making its mutex, too.
UpdateFacts::Installer FindInstallerState() noexcept {
  const UniqueHandle mutex =
      OwnHandle(::OpenMutexW(SYNCHRONIZE, /*inherit=*/FALSE, kInstallerMutexName));
  const DWORD error = mutex ? ERROR_SUCCESS : ::GetLastError();
  if (mutex || error == ERROR_ACCESS_DENIED) return UpdateFacts::Installer::kBusy;
  if (error == ERROR_FILE_NOT_FOUND) return UpdateFacts::Installer::kFree;
  return UpdateFacts::Installer::kUnknown;
}

// Program Files as the shell knows it: for this 64-bit service the same folder as the
// %ProgramFiles% that installer mode inherits from it. Empty when unknown.
std::wstring InstalledUiPath() {
  const std::wstring program_files = ProgramFilesFolder();
  if (program_files.empty()) return L"";
  return program_files + L"\\" + updater_contract::kProductFolderName + L"\\" +
         updater_contract::kProductExecutableName;
}

bool HasEnded(HANDLE process) noexcept {
  return ::WaitForSingleObject(process, /*milliseconds=*/0) == WAIT_OBJECT_0;
}

// Adds the session of `entry` to `sessions` when it is a copy of the installed program.
// Returns false when it may be one and cannot be read: installer mode would fail on it too.
[[nodiscard]] bool NoteUiCopy(const PROCESSENTRY32W& entry, const std::wstring& installed,
                              std::vector<wchar_t>& image, std::vector<ULONG>& sessions) {
  const wchar_t* name_end = std::find(std::begin(entry.szExeFile), std::end(entry.szExeFile), 0);
  const std::wstring name(std::begin(entry.szExeFile), name_end);
  if (!SameIgnoringAsciiCase(name, updater_contract::kProductExecutableName)) return true;
  const UniqueHandle process = OwnHandle(::OpenProcess(
      PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, /*inherit=*/FALSE, entry.th32ProcessID));
  const DWORD open_error = process ? ERROR_SUCCESS : ::GetLastError();
  // ERROR_INVALID_PARAMETER: it has ended since the snapshot was taken.
  if (!process) return open_error == ERROR_INVALID_PARAMETER;
  DWORD size = static_cast<DWORD>(image.size());
  ULONG session = 0;
  // The open handle keeps the process id from being reused while the session is read.
  if (!::QueryFullProcessImageNameW(process.get(), /*flags=*/0, image.data(), &size) ||
      !::ProcessIdToSessionId(entry.th32ProcessID, &session)) {
    return HasEnded(process.get());
  }
  if (SameIgnoringAsciiCase(std::wstring(image.data(), size), installed)) {
    sessions.push_back(session);
  }
  return true;
}

// Fills the sessions of the running copies; they are known only when every entry was read.
void FindUiCopies(UpdateFacts& facts) {
  const std::wstring installed = InstalledUiPath();
  const UniqueHandle snapshot =
      OwnHandle(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, /*process_id=*/0));
  if (installed.empty() || !snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  std::vector<wchar_t> image(kImagePathUnits, L'\0');
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (!NoteUiCopy(entry, installed, image, facts.ui_copy_sessions)) return;
  }
  // The walk ends with ERROR_NO_MORE_FILES; any other error leaves entries unread.
  facts.ui_copies_known = ::GetLastError() == ERROR_NO_MORE_FILES;
}

// "C:\" of "C:\Windows\system32"; empty when the system folder has no drive letter.
std::wstring SystemDriveRoot() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length < 3 || length >= MAX_PATH || folder[1] != L':' || folder[2] != L'\\') return L"";
  return std::wstring(folder, 3);
}

void FindSpace(const std::wstring& package, UpdateFacts& facts) {
  const std::wstring root = SystemDriveRoot();
  ULARGE_INTEGER free_to_service = {};
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  if (root.empty() ||
      !::GetDiskFreeSpaceExW(root.c_str(), &free_to_service, /*total=*/nullptr,
                             /*total_free=*/nullptr) ||
      !::GetFileAttributesExW(package.c_str(), GetFileExInfoStandard, &attributes)) {
    return;
  }
  facts.system_drive = {static_cast<char>(root[0]), ':'};
  facts.free_bytes = free_to_service.QuadPart;
  facts.package_bytes =
      (static_cast<ULONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
  facts.space_known = true;
}

}  // namespace

UpdateFacts GatherUpdateFacts(ULONG client_session, const std::wstring& package) {
  UpdateFacts facts;
  facts.installer = FindInstallerState();
  facts.client_session = client_session;
  FindUiCopies(facts);
  FindSpace(package, facts);
  return facts;
}

}  // namespace road
