// What every measurement of sample-bench.exe shares: its clock, its limit on each wait, and how
// it prints its figures and its reasons for giving up (key=value lines).
#pragma once

#include <windows.h>

#include <string>

#include "shared/unique_handles.h"

namespace bench {

// Longer than any step of an update takes under Wine on a loaded machine, and shorter than the
// time scripts/bench allows the whole measurement.
inline constexpr DWORD kGiveUpMs = 120000;

// Milliseconds since the clock was made, from the performance counter.
class Clock {
 public:
  Clock() noexcept;
  [[nodiscard]] double Ms() const noexcept;

 private:
  LARGE_INTEGER frequency_ = {};
  LARGE_INTEGER zero_ = {};
};

// Prints "<name>-ms=<ms>" with three decimals; nothing for a moment not seen (negative).
void PrintMs(const wchar_t* name, double ms) noexcept;

// Prints "gave-up=<what> after <kGiveUpMs> ms", the measurement's outcome when a wait ran out.
void PrintGaveUp(const wchar_t* what) noexcept;

// Waits up to kGiveUpMs for `handle`; false, having said so, when it is not signalled by then.
[[nodiscard]] bool WaitFor(HANDLE handle, const wchar_t* what) noexcept;

// The exit code of an ended process; 0xFFFFFFFF when it cannot be read.
[[nodiscard]] DWORD ExitCodeOf(HANDLE process) noexcept;

// Starts `command_line` (`program` by its path, or when null the program the line names, found
// as CreateProcessW finds it) in `folder` (this one's when null). Empty, having printed
// "start-failed=<error>", when it cannot.
[[nodiscard]] UniqueHandle Start(const wchar_t* program, const std::wstring& command_line,
                                 const wchar_t* folder = nullptr);

// A fresh update token: a GUID as the road makes them, or the tick count when none can be made.
[[nodiscard]] std::wstring FreshToken();

}  // namespace bench
