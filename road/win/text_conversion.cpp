#include "win/text_conversion.h"

#include <cwchar>
#include <type_traits>

namespace road {

std::string Utf8(const std::wstring& text) {
  const int length = static_cast<int>(text.size());
  const int bytes = ::WideCharToMultiByte(CP_UTF8, /*flags=*/0, text.c_str(), length, nullptr, 0,
                                          /*default_char=*/nullptr, /*used_default=*/nullptr);
  if (bytes <= 0) return "";
  std::string utf8(static_cast<size_t>(bytes), '\0');
  if (::WideCharToMultiByte(CP_UTF8, /*flags=*/0, text.c_str(), length, utf8.data(), bytes,
                            /*default_char=*/nullptr, /*used_default=*/nullptr) != bytes) {
    return "";
  }
  return utf8;
}

std::wstring WidenAscii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool ParseDword(const wchar_t* text, DWORD& out) noexcept {
  if (text == nullptr || *text < L'0' || *text > L'9') return false;
  wchar_t* end = nullptr;
  const unsigned long long value = std::wcstoull(text, &end, 10);
  if (*end != L'\0' || value > 0xFFFFFFFFull) return false;
  out = static_cast<DWORD>(value);
  return true;
}

namespace {

template <typename Text>
std::string PrintableAsciiOf(Text text) {
  std::string printable;
  printable.reserve(text.size());
  for (const auto c : text) {
    const auto code = static_cast<std::make_unsigned_t<decltype(c)>>(c);
    printable += code >= 0x20 && code <= 0x7e ? static_cast<char>(code) : '?';
  }
  return printable;
}

}  // namespace

std::string PrintableAscii(std::string_view text) { return PrintableAsciiOf(text); }

std::string PrintableAscii(std::wstring_view text) { return PrintableAsciiOf(text); }

std::optional<std::uint64_t> ParseDecimal64(std::wstring_view text) noexcept {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - L'0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace road
