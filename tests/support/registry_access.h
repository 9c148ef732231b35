// Reads and writes the update status value directly through the registry
// API, so a test sets up and inspects the world the same way on both builds.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "shared/unique_handles.h"
#include "support/world_test.h"

// A value as stored: its type, and its bytes as whole wide characters.
struct RawValue {
  DWORD type = 0;
  std::wstring text;
};

// The status key opened for reading; empty when it does not exist.
inline UniqueHKey OpenStatusKey() {
  HKEY key = nullptr;
  const LSTATUS status =
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStatusKeyPath, 0, KEY_QUERY_VALUE, &key);
  return UniqueHKey(status == ERROR_SUCCESS ? key : nullptr);
}

inline std::optional<RawValue> ReadRawStatus() {
  const UniqueHKey key = OpenStatusKey();
  RawValue value;
  DWORD size = 0;
  if (!key || ::RegQueryValueExW(key.get(), kStatusValueName, nullptr, &value.type, nullptr,
                                 &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // Room for an odd last byte; only whole characters are kept.
  value.text.resize((size + sizeof(wchar_t) - 1) / sizeof(wchar_t));
  if (::RegQueryValueExW(key.get(), kStatusValueName, nullptr, &value.type,
                         reinterpret_cast<BYTE*>(value.text.data()), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.text.resize(size / sizeof(wchar_t));
  return value;
}

inline bool StatusKeyExists() { return OpenStatusKey() != nullptr; }

// Creates the status key; empty (and the test failed) when that fails.
inline UniqueHKey CreateStatusKey() {
  HKEY key = nullptr;
  const LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kStatusKeyPath, 0, nullptr, 0,
                                           KEY_SET_VALUE, nullptr, &key, nullptr);
  EXPECT_EQ(status, ERROR_SUCCESS);
  return UniqueHKey(status == ERROR_SUCCESS ? key : nullptr);
}

// Stores `units` code units of `text` (pass text.size() + 1 to include the
// NUL) as the value, with the given type.
inline void WriteRawStatus(const std::wstring& text, size_t units, DWORD type = REG_SZ) {
  const UniqueHKey key = CreateStatusKey();
  ASSERT_TRUE(key);
  ASSERT_EQ(::RegSetValueExW(key.get(), kStatusValueName, 0, type,
                             reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(units * sizeof(wchar_t))),
            ERROR_SUCCESS);
}
