// The owner of a Windows Installer handle. An MSIHANDLE is a number, not a pointer, so it gets
// a small owner of its own instead of a unique_ptr alias; 0 is the empty handle.
#pragma once

#include <msi.h>
#include <windows.h>

namespace road {

class UniqueMsiHandle {
 public:
  UniqueMsiHandle() noexcept = default;
  // Takes ownership of `handle` (0: none).
  explicit UniqueMsiHandle(MSIHANDLE handle) noexcept : handle_(handle) {}
  UniqueMsiHandle(const UniqueMsiHandle&) = delete;
  UniqueMsiHandle& operator=(const UniqueMsiHandle&) = delete;
  ~UniqueMsiHandle() {
    if (handle_ != 0) (void)::MsiCloseHandle(handle_);
  }

  [[nodiscard]] MSIHANDLE get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != 0; }

 private:
  MSIHANDLE handle_ = 0;
};

}  // namespace road
