#include "service/delivery_verdict.h"

namespace road {

DeliveryVerdict JudgeDelivery(bool hash_matches, const PackageCheck& check) {
  using Fate = DeliveryVerdict::Fate;
  if (!hash_matches) return {Fate::kQuarantine, "package hash mismatch"};
  if (check.decision.accepted) return {Fate::kOffer, ""};
  const auto& installed = check.found.installed_version;
  if (IsNotNewerThanInstalled(check.found.product_version, installed)) return {Fate::kRemove, ""};
  if (installed && installed->empty()) return {Fate::kOffer, ""};
  return {Fate::kQuarantine, check.decision.reason};
}

}  // namespace road
