#include "package/installed_version.h"

#include <msi.h>
#include <windows.h>

#include "package/product_version.h"

namespace road {

namespace {

// A product code: a GUID in braces and a NUL.
constexpr DWORD kProductCodeUnits = 39;
// Enough for "255.255.65535" and more; a longer text is read again at its size.
constexpr DWORD kVersionUnits = 32;

// Asks for the VersionString of `product_code` into all of `buffer`; `length` receives its
// length, or the length it needs.
[[nodiscard]] UINT QueryVersionString(const wchar_t* product_code, std::wstring* buffer,
                                      DWORD* length) {
  *length = static_cast<DWORD>(buffer->size());
  return ::MsiGetProductInfoW(product_code, INSTALLPROPERTY_VERSIONSTRING, buffer->data(), length);
}

// The VersionString of the installed product `product_code`.
[[nodiscard]] bool ReadProductVersionString(const wchar_t* product_code, std::wstring* version) {
  std::wstring buffer(kVersionUnits, L'\0');
  DWORD length = 0;
  UINT status = QueryVersionString(product_code, &buffer, &length);
  if (status == ERROR_MORE_DATA) {
    buffer.assign(length + 1, L'\0');
    status = QueryVersionString(product_code, &buffer, &length);
  }
  if (status != ERROR_SUCCESS) return false;
  version->assign(buffer.data(), length);
  return true;
}

// Whether `version` is to be kept over `kept`: any readable version beats none or an
// unreadable one, and a later one beats an earlier one.
[[nodiscard]] bool IsHigher(const std::wstring& version, const std::optional<std::wstring>& kept) {
  if (!kept) return true;
  const std::optional<ProductVersion> candidate = ParseProductVersion(version);
  const std::optional<ProductVersion> current = ParseProductVersion(*kept);
  if (!candidate) return false;
  return !current || IsLaterVersion(*candidate, *current);
}

UINT EnumRelated(const wchar_t* upgrade_code, DWORD index, wchar_t* product_code) {
  return ::MsiEnumRelatedProductsW(upgrade_code, /*reserved=*/0, index, product_code);
}

}  // namespace

bool ReadInstalledVersionWith(EnumRelatedProduct enumerate, ReadProductVersion read_version,
                              const std::wstring& upgrade_code,
                              std::optional<std::wstring>* installed) {
  installed->reset();
  for (DWORD index = 0;; ++index) {
    wchar_t product_code[kProductCodeUnits] = {};
    const UINT status = enumerate(upgrade_code.c_str(), index, product_code);
    if (status == ERROR_NO_MORE_ITEMS) return true;
    if (status != ERROR_SUCCESS) return false;
    std::wstring version;
    if (!read_version(product_code, &version)) return false;
    if (IsHigher(version, *installed)) *installed = version;
  }
}

bool ReadInstalledVersion(const std::wstring& upgrade_code,
                          std::optional<std::wstring>* installed) {
  return ReadInstalledVersionWith(EnumRelated, ReadProductVersionString, upgrade_code, installed);
}

}  // namespace road
