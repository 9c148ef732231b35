#include "win/process_start.h"

namespace road {

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
  return StartProcess(program.c_str(), QuoteArgument(program) + L" " + arguments, folder.c_str(),
                      error);
}

}  // namespace road
