#include "service/feed_memory.h"

#include "contract/road_contract.h"
#include "win/machine_registry.h"
#include "win/text_conversion.h"

namespace road {

std::uint64_t ReadHighestFeedSerial() {
  return ParseDecimal64(ReadMachineString(kRoadKeyPath, kFeedSerialValueName)).value_or(0);
}

bool RaiseHighestFeedSerial(std::uint64_t serial) {
  if (serial <= ReadHighestFeedSerial()) return true;
  return WriteMachineString(kRoadKeyPath, kFeedSerialValueName, std::to_wstring(serial)) ==
         ERROR_SUCCESS;
}

std::string InstallIdentifier() {
  const std::wstring recorded = ReadMachineString(kRoadKeyPath, kInstallIdValueName);
  if (IsWellFormedToken(recorded)) return Utf8(recorded);
  const std::wstring made = NewToken();
  if (made.empty() ||
      WriteMachineString(kRoadKeyPath, kInstallIdValueName, made) != ERROR_SUCCESS) {
    return std::string();
  }
  return Utf8(made);
}

}  // namespace road
