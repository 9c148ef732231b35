#include "common/log_tail.h"

#include <windows.h>

#include <utility>

#include "shared/unique_handles.h"

namespace tools {

namespace {

[[nodiscard]] std::wstring FromUtf8(const std::string& text) {
  const int units =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(units > 0 ? units : 0), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
  return wide;
}

}  // namespace

LogTail::LogTail(std::wstring path, bool from_start)
    : path_(std::move(path)), skip_existing_(!from_start) {}

std::vector<std::wstring> LogTail::NewLines() {
  std::vector<std::wstring> lines;
  // Shared for writing and deleting: the writers keep it open, and a reader must not stop them.
  const UniqueHandle file = OwnHandle(::CreateFileW(
      path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      /*security=*/nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, /*template_file=*/nullptr));
  if (skip_existing_) {
    LARGE_INTEGER size = {};
    if (file && ::GetFileSizeEx(file.get(), &size)) offset_ = size.QuadPart;
    skip_existing_ = false;
    return lines;
  }
  LARGE_INTEGER offset = {};
  offset.QuadPart = offset_;
  if (file && ::SetFilePointerEx(file.get(), offset, /*new_position=*/nullptr, FILE_BEGIN)) {
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, /*overlapped=*/nullptr) &&
           read > 0) {
      partial_line_.append(buffer, read);
      offset_ += read;
    }
  }
  for (size_t end; (end = partial_line_.find("\r\n")) != std::string::npos;) {
    lines.push_back(FromUtf8(partial_line_.substr(0, end)));
    partial_line_.erase(0, end + 2);
  }
  return lines;
}

}  // namespace tools
