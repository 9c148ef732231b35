// Plain-text logs that several processes append to.
#pragma once

#include <string>

namespace road {

// Appends `line` and `ending` (UTF-8) to the file at `path`, creating it if needed, with the
// owner and access list `sddl` when one is given; false when the line was not written whole.
// Opened for appending only, so that it works on a log whose access list allows nothing more.
[[nodiscard]] bool AppendLine(const std::wstring& path, const std::wstring& line,
                              const wchar_t* ending = L"\r\n", const wchar_t* sddl = nullptr);

}  // namespace road
