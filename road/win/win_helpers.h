// Small helpers shared by the sample product's programs: registry reads, number parsing, the
// version text, plain-text logs, security descriptors and starting a process.
#pragma once

#include <windows.h>
#include <sddl.h>

#include <cwchar>
#include <string>
#include <vector>

#include "shared/unique_handles.h"

namespace road {

struct FindCloser {
    void operator()(HANDLE find) const noexcept { FindClose(find); }
};
// A directory search begun by FindFirstFileW.
using UniqueFind = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

inline UniqueFind FindFirst(const std::wstring& pattern, WIN32_FIND_DATAW& data) {
    const HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    return UniqueFind(find == INVALID_HANDLE_VALUE ? nullptr : find);
}

// A value under HKLM\<path> in the 64-bit view, read with read access only (a standard user
// has no more there); empty or `fallback` when it is missing or of another type.
inline std::wstring ReadMachineString(const wchar_t* path, const wchar_t* name) {
    std::vector<wchar_t> text(4096);
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, path, name, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY,
                     nullptr, text.data(), &size) != ERROR_SUCCESS) {
        return L"";
    }
    return text.data();
}
inline DWORD ReadMachineDword(const wchar_t* path, const wchar_t* name, DWORD fallback) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    return RegGetValueW(HKEY_LOCAL_MACHINE, path, name, RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY,
                        nullptr, &value, &size) == ERROR_SUCCESS
               ? value
               : fallback;
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

// A security descriptor made from an SDDL string; empty when the string is not one.
inline UniqueLocal<void> DescriptorFromSddl(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        return nullptr;
    }
    return UniqueLocal<void>(descriptor);
}

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
inline std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double before a quote, and the quote itself is escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// Starts a process with no inherited handles: `program` by its absolute path, or when null the
// program that `command_line` names, searched for as CreateProcessW does; `folder` is its
// current folder (this one's when null). Empty owners and the error in `error` when it cannot.
inline ProcessHandles StartProcess(const wchar_t* program, std::wstring command_line,
                                   const wchar_t* folder, DWORD& error) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program, command_line.data(), nullptr, nullptr,
                        /*inherit_handles=*/FALSE, 0, /*environment=*/nullptr, folder, &startup,
                        &info)) {
        error = GetLastError();
        return {};
    }
    error = ERROR_SUCCESS;
    return OwnProcessHandles(info);
}

// Starts `program` by its absolute path with `arguments` and `folder` as current folder.
inline ProcessHandles StartFromFolder(const std::wstring& program, const std::wstring& arguments,
                                      const std::wstring& folder, DWORD& error) {
    return StartProcess(program.c_str(), QuoteArgument(program) + L" " + arguments,
                        folder.c_str(), error);
}

// Waits for an overlapped operation on `pipe` that `begun` reports on. False when `stop` (if
// not null) came first, the time ran out (the operation is then cancelled) or it failed.
inline bool FinishPipeIo(HANDLE pipe, OVERLAPPED& overlapped, BOOL begun, HANDLE stop,
                         DWORD timeout_ms, DWORD& bytes) {
    if (!begun && GetLastError() != ERROR_IO_PENDING) return false;
    const HANDLE events[] = {overlapped.hEvent, stop};
    if (WaitForMultipleObjects(stop != nullptr ? 2 : 1, events, /*wait_all=*/FALSE, timeout_ms) !=
        WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, &bytes, /*wait=*/TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &overlapped, &bytes, /*wait=*/FALSE) != FALSE;
}

}  // namespace road
