// The lines that programs append to a plain-text log (UTF-8, each ended by CR LF), read while
// they write it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tools {

class LogTail {
 public:
  // Follows the log at `path`, which need not exist yet. With `from_start` false the lines
  // already there belong to earlier runs and are skipped.
  LogTail(std::wstring path, bool from_start);

  // The complete lines appended since the previous call, without their ends; a line still
  // being written waits for the next call.
  [[nodiscard]] std::vector<std::wstring> NewLines();

  const std::wstring& path() const noexcept { return path_; }

 private:
  std::wstring path_;
  bool skip_existing_;
  LONGLONG offset_ = 0;
  std::string partial_line_;
};

}  // namespace tools
