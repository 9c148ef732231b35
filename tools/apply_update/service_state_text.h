// The product's service as the timeline words it.
#pragma once

#include <windows.h>

#include <string>

namespace apply_update {

// "RUNNING, host pid 488", "STOPPED", "not installed", or why the service could not be seen,
// as `manager` (null when it could not be opened) finds it now. The service is opened anew
// each time: the package removes it and installs it again.
[[nodiscard]] std::wstring DescribeService(SC_HANDLE manager);

}  // namespace apply_update
