#include "service/service_log.h"

#include <windows.h>

#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "win/line_log.h"
#include "win/road_handles.h"

namespace road {

namespace {

void NoteInEventLog(const std::wstring& line) noexcept {
  const UniqueEventSource source(::RegisterEventSourceW(/*server=*/nullptr, kServiceName));
  if (!source) return;
  const wchar_t* strings[] = {line.c_str()};
  (void)::ReportEventW(source.get(), EVENTLOG_WARNING_TYPE, /*category=*/0, /*event_id=*/1,
                       /*user=*/nullptr, /*string_count=*/1, /*data_size=*/0, strings,
                       /*data=*/nullptr);
}

// Moves the log at `path` to <path>.old, in place of an older one, once it has reached
// kServiceLogLimitBytes, so that the next line starts a new file.
void RotateWhenFull(const std::wstring& path) noexcept {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return;
  const ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (size < kServiceLogLimitBytes) return;
  const std::wstring old = path + L".old";
  (void)::MoveFileExW(path.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

void ServiceLog::Note(const std::wstring& line) const {
  const std::wstring path = to_road_folders_ ? ServiceLogPath() : std::wstring();
  if (path.empty()) {
    NoteInEventLog(line);
    return;
  }
  RotateWhenFull(path);
  (void)AppendLine(path, line, L"\r\n", kServiceLogSddl);
}

void ServiceLog::NoteRepeatable(const std::wstring& kind, const std::wstring& line) const {
  const std::wstring text = repeated_.Filter(kind, line, ::GetTickCount64());
  if (!text.empty()) Note(text);
}

}  // namespace road
