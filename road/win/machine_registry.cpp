#include "win/machine_registry.h"

#include <vector>

namespace road {

std::wstring ReadMachineString(const wchar_t* path, const wchar_t* name) {
  std::vector<wchar_t> text(4096);
  DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, path, name, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY,
                     /*type=*/nullptr, text.data(), &size) != ERROR_SUCCESS) {
    return L"";
  }
  return text.data();
}

DWORD ReadMachineDword(const wchar_t* path, const wchar_t* name, DWORD fallback) noexcept {
  DWORD value = 0;
  DWORD size = sizeof(value);
  const LSTATUS status =
      ::RegGetValueW(HKEY_LOCAL_MACHINE, path, name, RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY,
                     /*type=*/nullptr, &value, &size);
  return status == ERROR_SUCCESS ? value : fallback;
}

LSTATUS WriteMachineString(const wchar_t* path, const wchar_t* name,
                           const std::wstring& value) noexcept {
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, path, name, REG_SZ, value.c_str(), bytes);
}

}  // namespace road
