// What the service does with a delivery it finds in Incoming: one decision on what was found
// about it, so that every rule can be judged on data.
#pragma once

#include <string>

#include "service/package_check.h"

namespace road {

struct DeliveryVerdict {
  enum class Fate {
    kOffer,       // it may update the product: it competes by version
    kRemove,      // its version is installed already, or older: it leaves Incoming for good
    kQuarantine,  // it fails its hash or the trust check: set aside for an administrator
  } fate = Fate::kQuarantine;
  std::string reason;  // for kQuarantine: the refusal, as "refused: <reason>" gives it
};

// Judges a delivery by whether its bytes match its .sha256 file (`hash_matches`, checked before
// anything else opens it) and by the package check on it:
//   - a hash that does not match sets it aside ("package hash mismatch");
//   - an accepted package is offered;
//   - a package no newer than the installed version leaves Incoming;
//   - one refused while the installed version cannot be told is offered all the same, so that
//     the check before staging refuses it with that reason and it stays for a later try: the
//     fault is this machine's, not the package's;
//   - any other refusal sets it aside with its reason.
// Pure.
[[nodiscard]] DeliveryVerdict JudgeDelivery(bool hash_matches, const PackageCheck& check);

}  // namespace road
