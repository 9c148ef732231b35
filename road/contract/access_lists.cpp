#include "contract/access_lists.h"

namespace road {

std::wstring WatcherLogSddl(const std::wstring& owner_sid) {
  return L"O:" + owner_sid + L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x0012008d;;;OW)";
}

}  // namespace road
