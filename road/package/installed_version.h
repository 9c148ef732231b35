// The version of the product that the Windows Installer has installed on this machine.
#pragma once

#include <optional>
#include <string>

namespace road {

// Asks the Windows Installer for the products installed under `upgrade_code` ("{GUID}") and
// stores the highest of their versions in `installed` ("2.0.0", as the Windows Installer
// formats it), or nothing when no product of that UpgradeCode is installed. More than one
// shows only while an upgrade is half done; the highest is the one a package must exceed.
// Returns false when the Windows Installer cannot be asked, or a product's version cannot be
// read, so that a failed query never reads as "not installed".
[[nodiscard]] bool ReadInstalledVersion(const std::wstring& upgrade_code,
                                        std::optional<std::wstring>* installed);

// The Windows Installer's two queries, as ReadInstalledVersion makes them: the related
// product at `index` (MsiEnumRelatedProductsW's status, the code in `product_code`, 39 units),
// and a product's version (false when it cannot be read).
using EnumRelatedProduct = UINT (*)(const wchar_t* upgrade_code, DWORD index,
                                    wchar_t* product_code);
using ReadProductVersion = bool (*)(const wchar_t* product_code, std::wstring* version);

// ReadInstalledVersion on the answers of `enumerate` and `read_version`.
[[nodiscard]] bool ReadInstalledVersionWith(EnumRelatedProduct enumerate,
                                            ReadProductVersion read_version,
                                            const std::wstring& upgrade_code,
                                            std::optional<std::wstring>* installed);

}  // namespace road
