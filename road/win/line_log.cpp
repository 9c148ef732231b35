#include "win/line_log.h"

#include <windows.h>

#include "shared/unique_handles.h"
#include "win/security_descriptor.h"
#include "win/text_conversion.h"

namespace road {

bool AppendLine(const std::wstring& path, const std::wstring& line, const wchar_t* ending,
                const wchar_t* sddl) {
  const std::string bytes = Utf8(line + ending);
  const UniqueLocal<void> descriptor = sddl != nullptr ? DescriptorFromSddl(sddl) : nullptr;
  if (sddl != nullptr && !descriptor) return false;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(),
                                    /*bInheritHandle=*/FALSE};
  const UniqueHandle file = OwnHandle(
      ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, /*template_file=*/nullptr));
  DWORD written = 0;
  return file &&
         ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     /*overlapped=*/nullptr) &&
         written == bytes.size();
}

}  // namespace road
