#include "shared/product_location.h"

#include <windows.h>

#include <vector>

std::wstring ProductExecutablePath() {
  constexpr wchar_t kVariable[] = L"ProgramFiles";
  // With no buffer the call returns the size needed, terminator included.
  const DWORD needed = ::GetEnvironmentVariableW(kVariable, /*buffer=*/nullptr, /*size=*/0);
  if (needed == 0) return {};
  std::vector<wchar_t> buffer(needed, L'\0');
  if (::GetEnvironmentVariableW(kVariable, buffer.data(), needed) == 0) return {};
  return std::wstring(buffer.data()) + L"\\" + updater_contract::kProductFolderName + L"\\" +
         kProductExecutableName;
}
