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

}  // namespace

void ServiceLog::Note(const std::wstring& line) const {
  const std::wstring path = folders_trusted_ ? ServiceLogPath() : std::wstring();
  if (path.empty()) {
    NoteInEventLog(line);
    return;
  }
  (void)AppendLine(path, line);
}

}  // namespace road
