// Owning wrappers for the Windows handles the updater opens. Each handle is
// wrapped on the line that opens it, so every return path closes it.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

struct KernelHandleCloser {
  void operator()(HANDLE handle) const noexcept { ::CloseHandle(handle); }
};
struct RegistryKeyCloser {
  void operator()(HKEY key) const noexcept { ::RegCloseKey(key); }
};
struct ServiceHandleCloser {
  void operator()(SC_HANDLE handle) const noexcept { ::CloseServiceHandle(handle); }
};
struct LocalMemoryFreer {
  void operator()(void* block) const noexcept { ::LocalFree(block); }
};

using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, KernelHandleCloser>;
using UniqueHKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegistryKeyCloser>;
using UniqueScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;
// A block the system allocated with LocalAlloc on the caller's behalf.
template <typename T>
using UniqueLocal = std::unique_ptr<T, LocalMemoryFreer>;

// Takes ownership of a kernel handle. Some calls report failure as null and
// others as INVALID_HANDLE_VALUE; both become an empty owner.
[[nodiscard]] inline UniqueHandle OwnHandle(HANDLE handle) noexcept {
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// Owns both handles that CreateProcessW returns.
struct ProcessHandles {
  UniqueHandle process;
  UniqueHandle thread;
};
[[nodiscard]] inline ProcessHandles OwnProcessHandles(const PROCESS_INFORMATION& info) noexcept {
  return {OwnHandle(info.hProcess), OwnHandle(info.hThread)};
}
