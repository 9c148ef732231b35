// Small helpers shared by the sample product's programs: registry values under
// HKLM\SOFTWARE\Corvanta, option parsing, the version text and plain-text logs.
#pragma once

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "shared/unique_handles.h"

namespace sample {

struct FindCloser {
    void operator()(HANDLE find) const noexcept { FindClose(find); }
};
// A directory search begun by FindFirstFileW.
using UniqueFind = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

inline UniqueFind FindFirst(const std::wstring& pattern, WIN32_FIND_DATAW& data) {
    const HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    return UniqueFind(find == INVALID_HANDLE_VALUE ? nullptr : find);
}

// Opens (creating it if needed) HKLM\SOFTWARE\Corvanta\<subkey> in the 64-bit view.
// Empty on failure.
inline UniqueHKey OpenSampleKey(const wchar_t* subkey) {
    const std::wstring path = std::wstring(L"SOFTWARE\\Corvanta\\") + subkey;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return nullptr;
    }
    return UniqueHKey(key);
}

// Reads a REG_DWORD; returns `fallback` when the key or value is missing or of another type.
inline DWORD ReadDword(const wchar_t* subkey, const wchar_t* name, DWORD fallback) {
    const UniqueHKey key = OpenSampleKey(subkey);
    if (!key) return fallback;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LONG rc = RegQueryValueExW(key.get(), name, nullptr, &type,
                                     reinterpret_cast<BYTE*>(&value), &size);
    return (rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value)) ? value : fallback;
}

inline void WriteDword(const wchar_t* subkey, const wchar_t* name, DWORD value) {
    const UniqueHKey key = OpenSampleKey(subkey);
    if (!key) return;
    RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof(value));
}

inline void WriteString(const wchar_t* subkey, const wchar_t* name, const std::wstring& value) {
    const UniqueHKey key = OpenSampleKey(subkey);
    if (!key) return;
    RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

inline void DeleteValue(const wchar_t* subkey, const wchar_t* name) {
    const UniqueHKey key = OpenSampleKey(subkey);
    if (key) RegDeleteValueW(key.get(), name);
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
    std::vector<wchar_t> buffer(32768);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!QueryFullProcessImageNameW(GetCurrentProcess(), 0, buffer.data(), &size)) return L"";
    return std::wstring(buffer.data(), size);
}

// The folder part of a path, without the last separator.
inline std::wstring FolderOf(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

// "major.minor.build" from this program's own version resource, so that one source builds
// every version of the product; "?" when the resource is missing.
inline std::wstring OwnVersion() {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(VS_VERSION_INFO),
                                  MAKEINTRESOURCEW(16) /*RT_VERSION*/);
    HGLOBAL loaded = found == nullptr ? nullptr : LoadResource(nullptr, found);
    const BYTE* data = loaded == nullptr ? nullptr : static_cast<const BYTE*>(LockResource(loaded));
    // VS_VERSIONINFO: three WORDs, L"VS_VERSION_INFO" with its terminator, padding to a
    // 32-bit boundary, then the fixed part.
    constexpr size_t kFixedOffset =
        (3 * sizeof(WORD) + sizeof(L"VS_VERSION_INFO") + 3) & ~size_t{3};
    if (data == nullptr ||
        SizeofResource(nullptr, found) < kFixedOffset + sizeof(VS_FIXEDFILEINFO)) {
        return L"?";
    }
    VS_FIXEDFILEINFO fixed = {};
    memcpy(&fixed, data + kFixedOffset, sizeof(fixed));
    if (fixed.dwSignature != 0xFEEF04BD) return L"?";
    return std::to_wstring(HIWORD(fixed.dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(fixed.dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(fixed.dwFileVersionLS));
}

// UTF-8 bytes of a wide string.
inline std::string Utf8(const std::wstring& text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(),
                        bytes, nullptr, nullptr);
    return utf8;
}

// Wide text of ASCII bytes (hashes, requests already checked to be printable).
inline std::wstring WidenAscii(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// Appends `line` and `ending` (UTF-8) to the file, creating it if needed. Opened for
// appending only, so that it works on a log whose access list allows nothing more.
inline bool AppendLine(const std::wstring& path, const std::wstring& line,
                       const wchar_t* ending = L"\r\n") {
    const std::string bytes = Utf8(line + ending);
    const UniqueHandle file = OwnHandle(CreateFileW(
        path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, /*security=*/nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, /*template_file=*/nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                             nullptr) &&
           written == bytes.size();
}

}  // namespace sample
