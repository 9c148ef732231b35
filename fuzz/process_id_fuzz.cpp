// ProcessIdFromText against a plain reading of wcstoul with base 10 where
// unsigned long has 32 bits, as on Windows.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "relaunch/process_id_text.h"

namespace {

constexpr wchar_t kAsciiWhiteSpace[] = L" \t\n\v\f\r";
constexpr wchar_t kLargestId[] = L"4294967295";

// Skip white space, take one sign, take the digits; a magnitude with more
// significant digits than 4294967295 is out of range and gives that value.
// Otherwise a "-" negates modulo 2^32.
uint32_t PlainWcstoul32(const std::wstring& text) {
  size_t at = text.find_first_not_of(kAsciiWhiteSpace);
  if (at == std::wstring::npos) return 0;
  const bool negative = text[at] == L'-';
  if (text[at] == L'-' || text[at] == L'+') ++at;
  size_t end = at;
  while (end < text.size() && text[end] >= L'0' && text[end] <= L'9') ++end;
  std::wstring digits = text.substr(at, end - at);
  digits.erase(0, digits.find_first_not_of(L'0'));
  const size_t longest = std::wstring(kLargestId).size();
  if (digits.size() > longest || (digits.size() == longest && digits > kLargestId)) {
    return 0xFFFFFFFFu;
  }
  const uint32_t magnitude = digits.empty() ? 0u : static_cast<uint32_t>(std::stoull(digits));
  return negative ? 0u - magnitude : magnitude;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = WideTextOf(data, size);
  const uint32_t expected = PlainWcstoul32(text);
  const DWORD got = ProcessIdFromText(text);
  Require(got == expected, "ProcessIdFromText gave " + std::to_string(got) + ", wcstoul reads " +
                               std::to_string(expected));
  return 0;
}
