// Comparing file names and paths as this program does: Windows file names ignore case, but only
// ASCII letters are folded here, so anything else must match code unit for code unit.
#pragma once

#include <algorithm>
#include <string>

// `c` with an ASCII capital letter made small; any other code unit as it is.
[[nodiscard]] inline wchar_t FoldAsciiLetter(wchar_t c) noexcept {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Whether `a` and `b` are the same but for the case of ASCII letters.
[[nodiscard]] inline bool SameIgnoringAsciiCase(const std::wstring& a,
                                                const std::wstring& b) noexcept {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](wchar_t x, wchar_t y) { return FoldAsciiLetter(x) == FoldAsciiLetter(y); });
}
