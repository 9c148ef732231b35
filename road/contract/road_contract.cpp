#include "contract/road_contract.h"

#include <windows.h>

#include <objbase.h>

namespace road {

namespace {

[[nodiscard]] bool IsHexDigit(wchar_t c) noexcept {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

}  // namespace

std::wstring WatcherLogFileName() {
  return std::wstring(kUpdaterFileName) + updater_contract::kLogSuffix;
}

bool IsWellFormedToken(const std::wstring& token) noexcept {
  if (token.size() != 36) return false;
  for (size_t i = 0; i < token.size(); ++i) {
    const bool dash_place = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash_place ? token[i] != L'-' : !IsHexDigit(token[i])) return false;
  }
  return true;
}

std::wstring NewToken() {
  GUID guid = {};
  wchar_t text[64] = {};
  if (FAILED(::CoCreateGuid(&guid)) || ::StringFromGUID2(guid, text, 64) == 0) return L"";
  const std::wstring braced = text;
  return braced.substr(1, braced.size() - 2);
}

}  // namespace road
