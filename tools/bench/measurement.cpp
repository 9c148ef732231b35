#include "bench/measurement.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "contract/road_contract.h"
#include "win/process_start.h"

namespace bench {

Clock::Clock() noexcept {
  ::QueryPerformanceFrequency(&frequency_);
  ::QueryPerformanceCounter(&zero_);
}

double Clock::Ms() const noexcept {
  LARGE_INTEGER now = {};
  ::QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart - zero_.QuadPart) /
         static_cast<double>(frequency_.QuadPart);
}

void PrintMs(const wchar_t* name, double ms) noexcept {
  if (ms >= 0) std::wprintf(L"%ls-ms=%.3f\n", name, ms);
}

void PrintGaveUp(const wchar_t* what) noexcept {
  std::wprintf(L"gave-up=%ls after %lu ms\n", what, kGiveUpMs);
}

bool WaitFor(HANDLE handle, const wchar_t* what) noexcept {
  if (::WaitForSingleObject(handle, kGiveUpMs) == WAIT_OBJECT_0) return true;
  PrintGaveUp(what);
  return false;
}

DWORD ExitCodeOf(HANDLE process) noexcept {
  DWORD code = 0;
  return ::GetExitCodeProcess(process, &code) ? code : 0xFFFFFFFFu;
}

UniqueHandle Start(const wchar_t* program, const std::wstring& command_line,
                   const wchar_t* folder) {
  DWORD error = 0;
  ProcessHandles started = road::StartProcess(program, command_line, folder, error);
  if (!started.process) std::wprintf(L"start-failed=%lu\n", error);
  return std::move(started.process);
}

std::wstring FreshToken() {
  const std::wstring token = road::NewToken();
  return token.empty() ? std::to_wstring(::GetTickCount64()) : token;
}

}  // namespace bench
