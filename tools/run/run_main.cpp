// sample-run.exe: starts a command line and reports on it with full 32-bit numbers, which a
// Unix shell under Wine cannot see (it gets only the low 8 bits of an exit code).
//
//   sample-run.exe [--detach] <program> [arguments...]
//
// The rest of this program's own command line, exactly as written, is the command line of
// the new process; the program is searched for as CreateProcess does. Prints "pid=<id>", then
//   - by default: waits for the process, prints "exit=<code>" and ends with the same code;
//   - with --detach: waits up to 10 s for the process to become input-idle, prints
//     "idle=<WaitForInputIdle result> idle-ms=<time taken>" and ends with 0, leaving it running.
// When the program cannot be started it prints "start-failed=<error>" and ends with 255.
// Numbers are unsigned decimal. The new process inherits this program's output streams under
// Wine, so a caller that reads this output through a pipe should read it from a file instead.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "win/process_start.h"

namespace {

const wchar_t* SkipBlanks(const wchar_t* p) {
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

// The command line after this program's own name, split off by the rule the C run-time and
// CommandLineToArgvW use for the first element: a quoted run, or up to the first blank.
const wchar_t* CommandTail() {
  const wchar_t* p = ::GetCommandLineW();
  if (*p == L'"') {
    ++p;
    while (*p != L'\0' && *p != L'"') ++p;
    if (*p == L'"') ++p;
  } else {
    while (*p != L'\0' && *p != L' ' && *p != L'\t') ++p;
  }
  return SkipBlanks(p);
}

// Removes a leading `option` word from `tail`; true when it was there.
bool TakeOption(const wchar_t*& tail, const wchar_t* option) {
  const size_t length = std::wcslen(option);
  if (std::wcsncmp(tail, option, length) != 0) return false;
  if (tail[length] != L' ' && tail[length] != L'\t') return false;
  tail = SkipBlanks(tail + length);
  return true;
}

}  // namespace

int wmain() {
  const wchar_t* tail = CommandTail();
  const bool detach = TakeOption(tail, L"--detach");
  std::wstring command = tail;
  if (command.empty()) {
    std::fwprintf(stderr, L"usage: sample-run.exe [--detach] <program> [arguments...]\n");
    return 2;
  }
  DWORD error = 0;
  const ProcessHandles owned = road::StartProcess(nullptr, command, nullptr, error);
  if (!owned.process) {
    std::wprintf(L"start-failed=%lu\n", error);
    return 255;
  }
  std::wprintf(L"pid=%lu\n", ::GetProcessId(owned.process.get()));
  std::fflush(stdout);

  DWORD code = 0;
  if (detach) {
    const ULONGLONG started = ::GetTickCount64();
    const DWORD idle = ::WaitForInputIdle(owned.process.get(), 10000);
    std::wprintf(L"idle=%lu idle-ms=%llu\n", idle, ::GetTickCount64() - started);
  } else {
    ::WaitForSingleObject(owned.process.get(), INFINITE);
    ::GetExitCodeProcess(owned.process.get(), &code);
    std::wprintf(L"exit=%lu\n", code);
  }
  std::fflush(stdout);
  return static_cast<int>(code);
}
