// Conversions between the texts the road reads and writes: UTF-8 for logs and the pipe, wide
// strings for Windows, and decimal numbers on command lines.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace road {

// UTF-8 bytes of a wide string; empty when it cannot be converted.
[[nodiscard]] std::string Utf8(const std::wstring& text);

// Wide text of ASCII bytes (hashes, requests already checked to be printable).
[[nodiscard]] std::wstring WidenAscii(const std::string& text);

// `text` as printable ASCII for one line of a log, an answer or a window: every other character,
// a line end or a byte of a longer UTF-8 sequence alike, becomes '?'.
[[nodiscard]] std::string PrintableAscii(std::string_view text);
[[nodiscard]] std::string PrintableAscii(std::wstring_view text);

// Parses a whole decimal number of at most 32 bits into `out`; false for anything else (no
// sign, no spaces, nothing after the digits).
[[nodiscard]] bool ParseDword(const wchar_t* text, DWORD& out) noexcept;

// A whole decimal number of 1 to 20 digits that fits 64 bits; nullopt for anything else (no
// sign, no spaces, nothing after the digits).
[[nodiscard]] std::optional<std::uint64_t> ParseDecimal64(std::wstring_view text) noexcept;

}  // namespace road
