// Small helpers shared by the sample product's programs: registry values under
// HKLM\SOFTWARE\Corvanta, option parsing and the version text.
#pragma once

#include <windows.h>

#include <cwchar>
#include <string>

#ifdef SAMPLE_VERSION
#define SAMPLE_WIDEN2(x) L## #x
#define SAMPLE_WIDEN(x) SAMPLE_WIDEN2(x)
// The version this copy of the product was built as ("1.0.0", "2.0.0").
inline constexpr const wchar_t* kSampleVersion = SAMPLE_WIDEN(SAMPLE_VERSION);
#endif

namespace sample {

// Opens (creating it if needed) HKLM\SOFTWARE\Corvanta\<subkey> in the 64-bit view.
// Returns null on failure; the caller closes the key.
inline HKEY OpenSampleKey(const wchar_t* subkey) {
    std::wstring path = L"SOFTWARE\\Corvanta\\";
    path += subkey;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

// Reads a REG_DWORD; returns `fallback` when the key or value is missing or of another type.
inline DWORD ReadDword(const wchar_t* subkey, const wchar_t* name, DWORD fallback) {
    HKEY key = OpenSampleKey(subkey);
    if (key == nullptr) return fallback;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                                     &size);
    RegCloseKey(key);
    return (rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value)) ? value : fallback;
}

inline void WriteDword(const wchar_t* subkey, const wchar_t* name, DWORD value) {
    HKEY key = OpenSampleKey(subkey);
    if (key == nullptr) return;
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

inline void WriteString(const wchar_t* subkey, const wchar_t* name, const std::wstring& value) {
    HKEY key = OpenSampleKey(subkey);
    if (key == nullptr) return;
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

inline void DeleteValue(const wchar_t* subkey, const wchar_t* name) {
    HKEY key = OpenSampleKey(subkey);
    if (key == nullptr) return;
    RegDeleteValueW(key, name);
    RegCloseKey(key);
}

// Adds one to a REG_DWORD counter (missing counts as 0).
inline void IncrementDword(const wchar_t* subkey, const wchar_t* name) {
    WriteDword(subkey, name, ReadDword(subkey, name, 0) + 1);
}

// Parses a whole decimal number into `out`; false for anything else.
inline bool ParseDword(const wchar_t* text, DWORD& out) {
    if (text == nullptr || *text < L'0' || *text > L'9') return false;
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(text, &end, 10);
    if (*end != L'\0' || value > 0xFFFFFFFFull) return false;
    out = static_cast<DWORD>(value);
    return true;
}

// The full image path of this process, as Windows reports it to other processes.
inline std::wstring OwnImagePath() {
    wchar_t buffer[32768] = {};
    DWORD size = 32768;
    if (!QueryFullProcessImageNameW(GetCurrentProcess(), 0, buffer, &size)) return L"";
    return std::wstring(buffer, size);
}

}  // namespace sample
