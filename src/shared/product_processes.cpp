#include "shared/product_processes.h"

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "shared/ascii_case.h"
#include "shared/product_location.h"
#include "shared/unique_handles.h"

namespace {

// Enough to wait for the process and to read its path, and to end it.
constexpr DWORD kProductProcessAccess =
    SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE;
constexpr DWORD kImagePathUnits = 32768;
constexpr DWORD kExitWaitMs = 10000;

std::wstring ExeFileOf(const PROCESSENTRY32W& entry) {
  const wchar_t* end = std::find(std::begin(entry.szExeFile), std::end(entry.szExeFile), L'\0');
  return std::wstring(std::begin(entry.szExeFile), end);
}

// Reads the first or the next snapshot entry. Returns false at the end of the
// list and on failure; only a failure sets the reason. An entry that cannot
// be read could be a product copy that would then keep its files locked.
[[nodiscard]] bool ReadEntry(HANDLE snapshot, bool first, PROCESSENTRY32W& entry,
                             std::wstring& failure_reason) {
  if (first ? ::Process32FirstW(snapshot, &entry) : ::Process32NextW(snapshot, &entry)) return true;
  const DWORD error = ::GetLastError();
  if (error != ERROR_NO_MORE_FILES) failure_reason = L"Could not read the product process list";
  return false;
}

// Keeps the entry's process open in `matches` when it runs the product
// executable. Returns false, with the reason set, when a candidate cannot be
// inspected.
[[nodiscard]] bool InspectEntry(const PROCESSENTRY32W& entry, const std::wstring& product_path,
                                std::vector<wchar_t>& image_path,
                                std::vector<UniqueHandle>& matches, std::wstring& failure_reason) {
  if (!SameIgnoringAsciiCase(ExeFileOf(entry), kProductExecutableName)) return true;
  UniqueHandle process =
      OwnHandle(::OpenProcess(kProductProcessAccess, /*inherit=*/FALSE, entry.th32ProcessID));
  const DWORD open_error = process ? ERROR_SUCCESS : ::GetLastError();
  // The process has ended since the snapshot was taken.
  if (open_error == ERROR_INVALID_PARAMETER) return true;
  if (open_error != ERROR_SUCCESS) {
    failure_reason = L"Could not inspect a product process";
    return false;
  }
  std::fill(image_path.begin(), image_path.end(), L'\0');
  DWORD size = static_cast<DWORD>(image_path.size());
  if (!::QueryFullProcessImageNameW(process.get(), /*flags=*/0, image_path.data(), &size)) {
    failure_reason = L"Could not read a product process path";
    return false;
  }
  if (SameIgnoringAsciiCase(image_path.data(), product_path)) matches.push_back(std::move(process));
  return true;
}

// Walks a fresh process snapshot and collects the product copies, which stay
// open. The snapshot is closed on return.
void FindProductProcesses(const std::wstring& product_path, std::vector<UniqueHandle>& matches,
                          std::wstring& failure_reason) {
  const UniqueHandle snapshot =
      OwnHandle(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, /*process_id=*/0));
  if (!snapshot) {
    failure_reason = L"Could not enumerate product processes";
    return;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(PROCESSENTRY32W);
  std::vector<wchar_t> image_path(kImagePathUnits, L'\0');
  for (bool more = ReadEntry(snapshot.get(), /*first=*/true, entry, failure_reason); more;
       more = ReadEntry(snapshot.get(), /*first=*/false, entry, failure_reason)) {
    if (!InspectEntry(entry, product_path, image_path, matches, failure_reason)) return;
  }
}

// Ends the copies one after the other; the first failure leaves the rest.
void EndProductProcesses(const std::vector<UniqueHandle>& processes, std::wstring& failure_reason) {
  for (const UniqueHandle& process : processes) {
    // Terminating a process that has already exited fails; it is as good as
    // ended.
    if (!::TerminateProcess(process.get(), /*exit_code=*/0) &&
        ::WaitForSingleObject(process.get(), /*milliseconds=*/0) != WAIT_OBJECT_0) {
      failure_reason = L"Could not stop the running application";
      return;
    }
    // Termination is asynchronous: the image stays locked until it exits.
    if (::WaitForSingleObject(process.get(), kExitWaitMs) != WAIT_OBJECT_0) {
      failure_reason = L"Application did not exit before installation";
      return;
    }
  }
}

}  // namespace

bool StopProductProcesses(std::wstring& failure_reason) {
  const std::wstring product_path = ProductExecutablePath();
  if (product_path.empty()) {
    failure_reason = L"Product installation path is unavailable";
    return false;
  }
  std::vector<UniqueHandle> product_processes;
  FindProductProcesses(product_path, product_processes, failure_reason);
  // After a failed walk the copies found so far are closed, not ended.
  if (failure_reason.empty()) EndProductProcesses(product_processes, failure_reason);
  return failure_reason.empty();
}
