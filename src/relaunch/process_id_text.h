// The old UI's process id as it arrives on the command line.
#pragma once

#include <windows.h>

#include <string>

// Converts decimal text to a process id the way Windows' wcstoul converts it
// with base 10, where unsigned long has 32 bits: leading white space is
// skipped, an optional "+" or "-" follows, then decimal digits up to the
// first other character. A "-" negates the value modulo 2^32 ("-1" gives
// 4294967295); a value above 4294967295 gives 4294967295, whatever its sign;
// text that does not start with a number gives 0.
// Digits and white space are the ASCII ones (white space: space, tab, and
// LF, VT, FF, CR); the Windows run-time also takes other scripts' digits and
// Unicode spaces, which a process id written by the product never holds.
[[nodiscard]] DWORD ProcessIdFromText(const std::wstring& text) noexcept;
