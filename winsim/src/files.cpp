// The simulated Windows: files with their content, sharing and deletion.
#include <algorithm>
#include <cstring>

#include "state.h"

using namespace winsim::detail;

namespace {

bool BelowDeniedFolder(const std::wstring& folded_path) {
  for (const std::wstring& folder : TheWorld().denied_folders) {
    if (folded_path.rfind(folder + L"\\", 0) == 0) return true;
  }
  return false;
}

// Whether an open for `desired` with `share_mode` fits with an earlier open
// of the same file for `held_access` with `held_share`: each must share what
// the other one does.
bool OpensCoexist(DWORD desired, DWORD share_mode, DWORD held_access, DWORD held_share) {
  auto writes = [](DWORD access) { return (access & (GENERIC_WRITE | FILE_APPEND_DATA)) != 0; };
  auto reads = [](DWORD access) { return (access & GENERIC_READ) != 0; };
  if (writes(desired) && (held_share & FILE_SHARE_WRITE) == 0) return false;
  if (reads(desired) && (held_share & FILE_SHARE_READ) == 0) return false;
  if (writes(held_access) && (share_mode & FILE_SHARE_WRITE) == 0) return false;
  if (reads(held_access) && (share_mode & FILE_SHARE_READ) == 0) return false;
  return true;
}

// Whether an open fits with another process that holds the file open for
// reading and writing with `held_share`.
bool SharingAllows(DWORD desired, DWORD share_mode, DWORD held_share) {
  return OpensCoexist(desired, share_mode, GENERIC_READ | GENERIC_WRITE, held_share);
}

// Whether an open fits with the handles to the file that are open now.
bool OpenHandlesAllow(const std::wstring& folded_path, DWORD desired, DWORD share_mode) {
  for (const auto& [value, entry] : TheWorld().handles) {
    if (entry.kind != HandleKind::kFile || entry.path != folded_path) continue;
    if (!OpensCoexist(desired, share_mode, entry.access, entry.share)) return false;
  }
  return true;
}

}  // namespace

namespace winsim {

void SetFile(const std::wstring& path, const std::string& content) {
  TheWorld().files[Fold(path)].content = content;
}

bool FileExists(const std::wstring& path) { return TheWorld().files.count(Fold(path)) != 0; }

std::optional<std::string> FileContent(const std::wstring& path) {
  const auto& files = TheWorld().files;
  auto found = files.find(Fold(path));
  if (found == files.end()) return std::nullopt;
  return found->second.content;
}

void HoldFile(const std::wstring& path, DWORD share_mode) {
  TheWorld().held_files[Fold(path)] = share_mode;
}

void DenyWritesBelow(const std::wstring& folder) {
  TheWorld().denied_folders.push_back(Fold(folder));
}

}  // namespace winsim

namespace {

HANDLE OpenFile(const std::wstring& path, DWORD desired, DWORD share_mode,
                DWORD creation_disposition) {
  World& w = TheWorld();
  auto held = w.held_files.find(path);
  if ((held != w.held_files.end() && !SharingAllows(desired, share_mode, held->second)) ||
      !OpenHandlesAllow(path, desired, share_mode)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  const bool exists = w.files.count(path) != 0;
  switch (creation_disposition) {
    case OPEN_EXISTING:
      if (!exists) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
      }
      break;
    case OPEN_ALWAYS:
    case CREATE_ALWAYS:
      if (!exists && BelowDeniedFolder(path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      if (creation_disposition == CREATE_ALWAYS) w.files[path].content.clear();
      w.files[path];
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  HandleEntry entry(HandleKind::kFile);
  entry.access = desired;
  entry.share = share_mode;
  entry.path = path;
  return reinterpret_cast<HANDLE>(AddHandle(std::move(entry)));
}

}  // namespace

HANDLE WINAPI CreateFileW(LPCWSTR file_name, DWORD desired, DWORD share_mode,
                          LPSECURITY_ATTRIBUTES security, DWORD creation_disposition,
                          DWORD flags_and_attributes, HANDLE template_file) {
  const std::wstring detail =
      L"path=" + Quote(file_name) + L" access=" + Hex(desired) + L" share=" + Hex(share_mode) +
      L" disposition=" + std::to_wstring(creation_disposition) + L" attributes=" +
      Hex(flags_and_attributes) + L" security=" + (security ? L"set" : L"null") + L" template=" +
      (template_file ? L"set" : L"null");
  return CallSettingLastError("CreateFileW", detail, INVALID_HANDLE_VALUE, [&](size_t) {
    return OpenFile(Fold(file_name ? file_name : L""), desired, share_mode, creation_disposition);
  });
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write, LPDWORD bytes_written,
                      LPOVERLAPPED overlapped) {
  const std::wstring detail =
      L"bytes=" + std::to_wstring(bytes_to_write) + (overlapped ? L" overlapped" : L"");
  return CallSettingLastError("WriteFile", detail, FALSE, [&](size_t) -> BOOL {
    HandleEntry* entry = FindHandle(file, HandleKind::kFile);
    if (entry == nullptr) return FALSE;
    if ((entry->access & (GENERIC_WRITE | FILE_APPEND_DATA)) == 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    std::string& content = TheWorld().files[entry->path].content;
    const char* bytes = static_cast<const char*>(buffer);
    if ((entry->access & GENERIC_WRITE) == 0) {
      content.append(bytes, bytes_to_write);  // append-only access writes at the end
    } else {
      content.resize(std::max(content.size(), entry->cursor + bytes_to_write));
      if (bytes_to_write != 0) std::memcpy(&content[entry->cursor], bytes, bytes_to_write);
      entry->cursor += bytes_to_write;
    }
    if (bytes_written != nullptr) *bytes_written = bytes_to_write;
    return TRUE;
  });
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read,
                     LPOVERLAPPED /*overlapped*/) {
  const std::wstring detail = L"bytes=" + std::to_wstring(bytes_to_read);
  return CallSettingLastError("ReadFile", detail, FALSE, [&](size_t) -> BOOL {
    HandleEntry* entry = FindHandle(file, HandleKind::kFile);
    if (entry == nullptr) return FALSE;
    if ((entry->access & GENERIC_READ) == 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    const std::string& content = TheWorld().files[entry->path].content;
    const size_t available = content.size() > entry->cursor ? content.size() - entry->cursor : 0;
    const size_t count = std::min<size_t>(available, bytes_to_read);
    if (count != 0) std::memcpy(buffer, content.data() + entry->cursor, count);
    entry->cursor += count;
    if (bytes_read != nullptr) *bytes_read = static_cast<DWORD>(count);
    return TRUE;
  });
}

BOOL WINAPI DeleteFileW(LPCWSTR file_name) {
  return CallSettingLastError("DeleteFileW", Quote(file_name), FALSE, [&](size_t) -> BOOL {
    World& w = TheWorld();
    const std::wstring path = Fold(file_name ? file_name : L"");
    if (w.files.count(path) == 0) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return FALSE;
    }
    if (w.held_files.count(path) != 0 && (w.held_files[path] & FILE_SHARE_DELETE) == 0) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return FALSE;
    }
    w.files.erase(path);
    return TRUE;
  });
}
