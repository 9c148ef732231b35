#include "shared/update_status.h"

#include <windows.h>

#include <vector>

#include "shared/unique_handles.h"
#include "shared/updater_contract.h"

namespace {

using updater_contract::kStatusKeyPath;
using updater_contract::kStatusValueName;

// Most records fit in 2047 characters and a NUL, so a poll normally costs
// one query.
constexpr DWORD kUsualRecordUnits = 2048;

}  // namespace

void WriteUpdateStatus(const std::wstring& token, const std::wstring& outcome) noexcept {
  HKEY raw_key = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kStatusKeyPath, /*reserved=*/0, /*class=*/nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, /*security=*/nullptr, &raw_key,
                        /*disposition=*/nullptr) != ERROR_SUCCESS) {
    return;
  }
  const UniqueHKey key(raw_key);
  const std::wstring record = StatusRecordText(token, outcome);
  // The terminating NUL is stored with the text.
  const DWORD size_bytes = static_cast<DWORD>((record.size() + 1) * sizeof(wchar_t));
  (void)::RegSetValueExW(key.get(), kStatusValueName, /*reserved=*/0, REG_SZ,
                         reinterpret_cast<const BYTE*>(record.c_str()), size_bytes);
}

std::wstring ReadUpdateStatus() {
  HKEY raw_key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStatusKeyPath, /*options=*/0, KEY_QUERY_VALUE,
                      &raw_key) != ERROR_SUCCESS) {
    return {};
  }
  const UniqueHKey key(raw_key);

  // A record longer than the usual buffer (a long token or log path) is read
  // again at the size the first query reported, so its watcher still sees
  // the outcome. If it grew once more in between, this poll sees no outcome
  // and the next one reads anew; a value is never returned in part.
  DWORD size_bytes = kUsualRecordUnits * sizeof(wchar_t);
  for (int attempt = 0; attempt < 2; ++attempt) {
    // Zero-filled with spare room, so data stored without its own NUL ends.
    std::vector<wchar_t> buffer(size_bytes / sizeof(wchar_t) + 2, L'\0');
    DWORD type = 0;
    const LSTATUS status =
        ::RegQueryValueExW(key.get(), kStatusValueName, /*reserved=*/nullptr, &type,
                           reinterpret_cast<BYTE*>(buffer.data()), &size_bytes);
    if (status == ERROR_SUCCESS) {
      if (type != REG_SZ) return {};
      return std::wstring(buffer.data());  // up to the first NUL
    }
    if (status != ERROR_MORE_DATA) return {};
  }
  return {};
}
