#include "package/package_properties.h"

#include <msiquery.h>
#include <windows.h>

#include <vector>

#include "package/msi_handle.h"

namespace road {

namespace {

constexpr wchar_t kPropertyQuery[] = L"SELECT `Value` FROM `Property` WHERE `Property` = ?";

// The text of field `field` of `record`, asked for once to learn its length.
[[nodiscard]] bool ReadRecordText(MSIHANDLE record, UINT field, std::wstring* text) {
  DWORD length = 0;
  wchar_t empty[1] = {};
  UINT status = ::MsiRecordGetStringW(record, field, empty, &length);
  if (status != ERROR_MORE_DATA && status != ERROR_SUCCESS) return false;
  std::vector<wchar_t> buffer(length + 1, L'\0');
  length = static_cast<DWORD>(buffer.size());
  status = ::MsiRecordGetStringW(record, field, buffer.data(), &length);
  if (status != ERROR_SUCCESS) return false;
  text->assign(buffer.data(), length);
  return true;
}

// The value of property `name`, or an empty text when the table has no row for it. The name is
// bound as a parameter, never written into the query.
[[nodiscard]] bool ReadProperty(MSIHANDLE database, const wchar_t* name, std::wstring* value) {
  value->clear();
  MSIHANDLE raw = 0;
  if (::MsiDatabaseOpenViewW(database, kPropertyQuery, &raw) != ERROR_SUCCESS) return false;
  const UniqueMsiHandle view(raw);
  const UniqueMsiHandle parameters(::MsiCreateRecord(1));
  if (!parameters || ::MsiRecordSetStringW(parameters.get(), 1, name) != ERROR_SUCCESS) {
    return false;
  }
  if (::MsiViewExecute(view.get(), parameters.get()) != ERROR_SUCCESS) return false;
  raw = 0;
  const UINT fetched = ::MsiViewFetch(view.get(), &raw);
  const UniqueMsiHandle row(raw);
  if (fetched == ERROR_NO_MORE_ITEMS) return true;
  return fetched == ERROR_SUCCESS && ReadRecordText(row.get(), 1, value);
}

}  // namespace

bool ReadPackageProperties(const std::wstring& path, PackageProperties* found) {
  MSIHANDLE raw = 0;
  if (::MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &raw) != ERROR_SUCCESS) return false;
  const UniqueMsiHandle database(raw);
  return ReadProperty(database.get(), L"ProductVersion", &found->product_version) &&
         ReadProperty(database.get(), L"ProductCode", &found->product_code) &&
         ReadProperty(database.get(), L"UpgradeCode", &found->upgrade_code);
}

}  // namespace road
