#include "win/line_log.h"

#include <windows.h>

#include "shared/unique_handles.h"
#include "win/text_conversion.h"

namespace road {

bool AppendLine(const std::wstring& path, const std::wstring& line, const wchar_t* ending) {
  const std::string bytes = Utf8(line + ending);
  const UniqueHandle file = OwnHandle(::CreateFileW(
      path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, /*security=*/nullptr,
      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, /*template_file=*/nullptr));
  DWORD written = 0;
  return file &&
         ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     /*overlapped=*/nullptr) &&
         written == bytes.size();
}

}  // namespace road
