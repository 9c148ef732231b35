// What a package says it is, read from its Property table through the Windows Installer's
// database functions. Nothing of the package runs: the database is only read.
#pragma once

#include <string>

namespace road {

struct PackageProperties {
  std::wstring product_version;  // "2.0.0"; empty when the table has no such row
  std::wstring product_code;     // "{GUID}"
  std::wstring upgrade_code;     // "{GUID}", in the letter case the package was built with
};

// Opens the package at `path` read-only, reads its ProductVersion, ProductCode and UpgradeCode,
// and closes it again before returning, so that nothing keeps the file open. Returns false when
// the file cannot be opened as a Windows Installer database or its Property table cannot be
// queried; a property the table lacks is left empty.
[[nodiscard]] bool ReadPackageProperties(const std::wstring& path, PackageProperties* found);

}  // namespace road
