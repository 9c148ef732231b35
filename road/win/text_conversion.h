// Conversions between the texts the road reads and writes: UTF-8 for logs and the pipe, wide
// strings for Windows, and decimal numbers on command lines.
#pragma once

#include <windows.h>

#include <string>

namespace road {

// UTF-8 bytes of a wide string; empty when it cannot be converted.
[[nodiscard]] std::string Utf8(const std::wstring& text);

// Wide text of ASCII bytes (hashes, requests already checked to be printable).
[[nodiscard]] std::wstring WidenAscii(const std::string& text);

// Parses a whole decimal number of at most 32 bits into `out`; false for anything else (no
// sign, no spaces, nothing after the digits).
[[nodiscard]] bool ParseDword(const wchar_t* text, DWORD& out) noexcept;

}  // namespace road
