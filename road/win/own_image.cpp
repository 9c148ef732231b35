#include "win/own_image.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace road {

namespace {

// VS_VERSIONINFO: three WORDs, L"VS_VERSION_INFO" with its terminator, padding to a 32-bit
// boundary, then the fixed part.
constexpr size_t kFixedInfoOffset =
    (3 * sizeof(WORD) + sizeof(L"VS_VERSION_INFO") + 3) & ~size_t{3};

// The fixed part of this program's version resource; false when there is none.
[[nodiscard]] bool ReadFixedVersion(VS_FIXEDFILEINFO& fixed) noexcept {
  const HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(VS_VERSION_INFO),
                                      MAKEINTRESOURCEW(16) /*RT_VERSION*/);
  const HGLOBAL loaded = found == nullptr ? nullptr : ::LoadResource(nullptr, found);
  const void* data = loaded == nullptr ? nullptr : ::LockResource(loaded);
  if (data == nullptr ||
      ::SizeofResource(nullptr, found) < kFixedInfoOffset + sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  std::memcpy(&fixed, static_cast<const BYTE*>(data) + kFixedInfoOffset, sizeof(fixed));
  return fixed.dwSignature == 0xFEEF04BD;
}

}  // namespace

std::wstring OwnImagePath() {
  std::vector<wchar_t> buffer(32768);
  DWORD size = static_cast<DWORD>(buffer.size());
  if (!::QueryFullProcessImageNameW(::GetCurrentProcess(), /*flags=*/0, buffer.data(), &size)) {
    return L"";
  }
  return std::wstring(buffer.data(), size);
}

std::wstring OwnFolder() {
  const std::wstring path = OwnImagePath();
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

std::wstring OwnVersion() {
  VS_FIXEDFILEINFO fixed = {};
  if (!ReadFixedVersion(fixed)) return L"?";
  return std::to_wstring(HIWORD(fixed.dwFileVersionMS)) + L"." +
         std::to_wstring(LOWORD(fixed.dwFileVersionMS)) + L"." +
         std::to_wstring(HIWORD(fixed.dwFileVersionLS));
}

}  // namespace road
