// Reads of values under HKEY_LOCAL_MACHINE, as a standard user may make them.
#pragma once

#include <windows.h>

#include <string>

namespace road {

// The REG_SZ value `name` under HKLM\<path> in the 64-bit view, read with read access only (a
// standard user has no more there); empty when it is missing or of another type.
[[nodiscard]] std::wstring ReadMachineString(const wchar_t* path, const wchar_t* name);

// The REG_DWORD value `name` under HKLM\<path> in the 64-bit view; `fallback` when it is
// missing or of another type.
[[nodiscard]] DWORD ReadMachineDword(const wchar_t* path, const wchar_t* name,
                                     DWORD fallback) noexcept;

// Writes `value` as the REG_SZ value `name` under HKLM\<path>, made when missing, as the
// service (a 64-bit process, so in the 64-bit view) may; ERROR_SUCCESS or why not.
[[nodiscard]] LSTATUS WriteMachineString(const wchar_t* path, const wchar_t* name,
                                         const std::wstring& value) noexcept;

}  // namespace road
