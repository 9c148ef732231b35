#include "win/process_start.h"

#include <memory>
#include <type_traits>
#include <vector>

namespace road {

namespace {

struct AttributeListDeleter {
  void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const noexcept {
    ::DeleteProcThreadAttributeList(list);
  }
};
// An attribute list made by InitializeProcThreadAttributeList in memory the caller keeps.
using UniqueAttributeList =
    std::unique_ptr<std::remove_pointer_t<LPPROC_THREAD_ATTRIBUTE_LIST>, AttributeListDeleter>;

// An attribute list in `memory` that hands down `*handle` alone, which must outlive it; empty,
// with the error in `error`, when it cannot be made.
[[nodiscard]] UniqueAttributeList HandleListOf(HANDLE* handle, std::vector<char>& memory,
                                               DWORD& error) {
  SIZE_T size = 0;
  (void)::InitializeProcThreadAttributeList(nullptr, /*count=*/1, /*flags=*/0, &size);
  memory.assign(size, 0);
  const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(memory.data());
  if (!::InitializeProcThreadAttributeList(list, /*count=*/1, /*flags=*/0, &size)) {
    error = ::GetLastError();
    return nullptr;
  }
  UniqueAttributeList owned(list);
  if (!::UpdateProcThreadAttribute(list, /*flags=*/0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handle,
                                   sizeof(*handle), /*previous=*/nullptr,
                                   /*return_size=*/nullptr)) {
    error = ::GetLastError();
    return nullptr;
  }
  return owned;
}

}  // namespace

std::wstring QuoteArgument(const std::wstring& arg) {
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

ProcessHandles StartProcess(const wchar_t* program, std::wstring command_line,
                            const wchar_t* folder, DWORD& error) noexcept {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(program, command_line.data(), /*process_security=*/nullptr,
                        /*thread_security=*/nullptr, /*inherit_handles=*/FALSE, /*flags=*/0,
                        /*environment=*/nullptr, folder, &startup, &info)) {
    error = ::GetLastError();
    return {};
  }
  error = ERROR_SUCCESS;
  return OwnProcessHandles(info);
}

ProcessHandles StartFromFolder(const std::wstring& program, const std::wstring& arguments,
                               const std::wstring& folder, DWORD& error) {
  return StartHandingDown(program, arguments, folder, /*flags=*/0, /*inherited=*/nullptr, error);
}

ProcessHandles StartHandingDown(const std::wstring& program, const std::wstring& arguments,
                                const std::wstring& folder, DWORD flags, HANDLE inherited,
                                DWORD& error) {
  HANDLE handles[] = {inherited};
  std::vector<char> memory;
  const UniqueAttributeList list =
      inherited != nullptr ? HandleListOf(handles, memory, error) : nullptr;
  if (inherited != nullptr && !list) return {};
  STARTUPINFOEXW startup = {};
  // The extended size only with the flag that says the attribute list is there.
  startup.StartupInfo.cb = list ? sizeof(startup) : sizeof(startup.StartupInfo);
  startup.lpAttributeList = list.get();
  std::wstring command_line = QuoteArgument(program) + L" " + arguments;
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(program.c_str(), command_line.data(), /*process_security=*/nullptr,
                        /*thread_security=*/nullptr, /*inherit_handles=*/list != nullptr,
                        flags | (list ? EXTENDED_STARTUPINFO_PRESENT : 0), /*environment=*/nullptr,
                        folder.c_str(), &startup.StartupInfo, &info)) {
    error = ::GetLastError();
    return {};
  }
  error = ERROR_SUCCESS;
  return OwnProcessHandles(info);
}

}  // namespace road
