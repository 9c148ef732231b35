// What the service keeps of the feeds between its runs, in HKLM under kRoadKeyPath, where only
// administrators and the service may write: the highest serial of a feed it accepted, so that
// an older feed replayed later is refused, and the machine's install identifier, which places
// it in each release's rollout.
#pragma once

#include <cstdint>
#include <string>

namespace road {

inline constexpr wchar_t kFeedSerialValueName[] = L"FeedSerial";
inline constexpr wchar_t kInstallIdValueName[] = L"InstallId";

// The highest serial recorded; 0 before the first feed, or when the value is not a decimal
// number (a feed of serial 0 is then still accepted, and the next one records its serial).
[[nodiscard]] std::uint64_t ReadHighestFeedSerial();

// Records `serial` when it is higher than the one recorded; false when it had to but could not.
[[nodiscard]] bool RaiseHighestFeedSerial(std::uint64_t serial);

// The machine's install identifier: a random GUID, made and recorded on first use and kept
// from then on. It is never sent anywhere. Empty when none is recorded and none can be made or
// recorded: no release below 100 % is then offered, rather than one drawn afresh at each check.
[[nodiscard]] std::string InstallIdentifier();

}  // namespace road
