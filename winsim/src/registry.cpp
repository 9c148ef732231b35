// The simulated Windows: the registry, below HKEY_LOCAL_MACHINE. Values are
// kept as typed bytes, as Windows keeps them.
#include <cstring>

#include "state.h"

using namespace winsim::detail;

namespace {

// The full path of `sub_key` below an open key or HKEY_LOCAL_MACHINE, or
// empty when `key` is neither.
std::wstring FullPath(HKEY key, const wchar_t* sub_key) {
  std::wstring base;
  if (key == HKEY_LOCAL_MACHINE) {
    base = L"HKLM";
  } else if (HandleEntry* entry = FindHandle(key, HandleKind::kKey)) {
    base = entry->path;
  } else {
    return {};
  }
  if (sub_key != nullptr && *sub_key != L'\0') base += L"\\" + std::wstring(sub_key);
  return base;
}

std::wstring LocalMachinePath(const std::wstring& key_path) { return L"HKLM\\" + key_path; }

HKEY NewKeyHandle(const std::wstring& path, REGSAM access) {
  HandleEntry entry(HandleKind::kKey);
  entry.access = access;
  entry.path = path;
  return reinterpret_cast<HKEY>(AddHandle(std::move(entry)));
}

void CreateKeyAndParents(const std::wstring& path) {
  auto& registry = TheWorld().registry;
  for (size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
    registry[Fold(path.substr(0, at))];
  }
  registry[Fold(path)];
}

// The open key's entry when it grants `needed`, else null with the error.
HandleEntry* KeyWithAccess(HKEY key, REGSAM needed, LSTATUS& status) {
  HandleEntry* entry = FindHandle(key, HandleKind::kKey);
  if (entry == nullptr) {
    status = ERROR_INVALID_HANDLE;
  } else if ((entry->access & needed) != needed && (entry->access & KEY_ALL_ACCESS) != KEY_ALL_ACCESS) {
    status = ERROR_ACCESS_DENIED;
    entry = nullptr;
  }
  return entry;
}

}  // namespace

namespace winsim {

void SetRegistryValue(const std::wstring& key_path, const std::wstring& name, DWORD type,
                      std::vector<uint8_t> data) {
  const std::wstring path = LocalMachinePath(key_path);
  CreateKeyAndParents(path);
  TheWorld().registry[Fold(path)][Fold(name)] = {name, RegistryValue{type, std::move(data)}};
}

void SetRegistryString(const std::wstring& key_path, const std::wstring& name,
                       const std::wstring& text, DWORD type, bool with_terminator) {
  const size_t units = text.size() + (with_terminator ? 1 : 0);
  std::vector<uint8_t> data(units * sizeof(wchar_t));
  if (!data.empty()) std::memcpy(data.data(), text.c_str(), data.size());
  SetRegistryValue(key_path, name, type, std::move(data));
}

bool RegistryKeyExists(const std::wstring& key_path) {
  return TheWorld().registry.count(Fold(LocalMachinePath(key_path))) != 0;
}

std::optional<RegistryValue> GetRegistryValue(const std::wstring& key_path,
                                              const std::wstring& name) {
  const auto& registry = TheWorld().registry;
  auto key = registry.find(Fold(LocalMachinePath(key_path)));
  if (key == registry.end()) return std::nullopt;
  auto value = key->second.find(Fold(name));
  if (value == key->second.end()) return std::nullopt;
  return value->second.second;
}

std::optional<std::wstring> GetRegistryString(const std::wstring& key_path,
                                              const std::wstring& name) {
  std::optional<RegistryValue> value = GetRegistryValue(key_path, name);
  if (!value) return std::nullopt;
  std::wstring text(value->data.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) std::memcpy(text.data(), value->data.data(), text.size() * sizeof(wchar_t));
  return text.substr(0, text.find(L'\0'));
}

}  // namespace winsim

LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD reserved, LPWSTR class_name,
                               DWORD options, REGSAM desired, const SECURITY_ATTRIBUTES* security,
                               PHKEY result, LPDWORD disposition) {
  const std::wstring path = FullPath(key, sub_key);
  const std::wstring detail = L"path=" + path + L" options=" + Hex(options) + L" access=" +
                              Hex(desired) + L" class=" + Quote(class_name) + L" security=" +
                              (security ? L"set" : L"null") + L" disposition=" +
                              (disposition ? L"asked" : L"null");
  return CallReturningStatus("RegCreateKeyExW", detail, [&]() -> LSTATUS {
    if (path.empty()) return ERROR_INVALID_HANDLE;
    if (reserved != 0 || result == nullptr) return ERROR_INVALID_PARAMETER;
    const bool existed = TheWorld().registry.count(Fold(path)) != 0;
    CreateKeyAndParents(path);
    *result = NewKeyHandle(path, desired);
    if (disposition != nullptr) *disposition = existed ? 2u : 1u;
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD options, REGSAM desired,
                             PHKEY result) {
  const std::wstring path = FullPath(key, sub_key);
  const std::wstring detail = L"path=" + path + L" options=" + Hex(options) + L" access=" +
                              Hex(desired);
  return CallReturningStatus("RegOpenKeyExW", detail, [&]() -> LSTATUS {
    if (path.empty()) return ERROR_INVALID_HANDLE;
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    if (TheWorld().registry.count(Fold(path)) == 0) return ERROR_FILE_NOT_FOUND;
    *result = NewKeyHandle(path, desired);
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR value_name, DWORD reserved, DWORD type,
                              const BYTE* data, DWORD size) {
  const std::wstring name = value_name ? value_name : L"";
  const std::wstring detail =
      L"name=" + name + L" type=" + std::to_wstring(type) + L" size=" + std::to_wstring(size);
  return CallReturningStatus("RegSetValueExW", detail, [&]() -> LSTATUS {
    LSTATUS status = ERROR_SUCCESS;
    HandleEntry* entry = KeyWithAccess(key, KEY_SET_VALUE, status);
    if (entry == nullptr) return status;
    if (reserved != 0 || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> bytes(size);
    if (size != 0) std::memcpy(bytes.data(), data, size);
    TheWorld().registry[Fold(entry->path)][Fold(name)] = {name, winsim::RegistryValue{type, bytes}};
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR value_name, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD size) {
  const std::wstring name = value_name ? value_name : L"";
  const std::wstring detail = L"name=" + name + L" size=" +
                              (size ? std::to_wstring(*size) : L"null") + L" data=" +
                              (data ? L"buffer" : L"null");
  return CallReturningStatus("RegQueryValueExW", detail, [&]() -> LSTATUS {
    LSTATUS status = ERROR_SUCCESS;
    HandleEntry* entry = KeyWithAccess(key, KEY_QUERY_VALUE, status);
    if (entry == nullptr) return status;
    if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
    const auto& values = TheWorld().registry[Fold(entry->path)];
    auto found = values.find(Fold(name));
    if (found == values.end()) return ERROR_FILE_NOT_FOUND;
    const winsim::RegistryValue& value = found->second.second;
    if (type != nullptr) *type = value.type;
    const auto stored = static_cast<DWORD>(value.data.size());
    if (data != nullptr && *size < stored) {
      *size = stored;
      return ERROR_MORE_DATA;
    }
    // An empty value has no bytes to copy, nor a buffer of its own to copy from.
    if (data != nullptr && stored != 0) std::memcpy(data, value.data.data(), stored);
    if (size != nullptr) *size = stored;
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  return CallReturningStatus("RegCloseKey", L"", [&]() -> LSTATUS {
    return RemoveHandle(key, HandleKind::kKey, "RegCloseKey") ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  });
}
