// Staged rollouts: which machines a release reaches while its rollout is below 100 %.
#pragma once

#include <string>

#include "package/product_version.h"

namespace road {

// The machine's bucket, 0..99, for the release `version`: a hash of the machine's install
// identifier and the version ("major.minor.build", so 2.0.0 and 2.0.0.5 share one), the same
// on every call, and unrelated from one release to the next, so that each release's first
// slice holds other machines. Pure.
//
// The hash is FNV-1a 64 with a 64-bit avalanche finaliser, not a cryptographic one: the
// identifier is random, kept on the machine and never sent, so nobody can pick an input to
// steer a slice; what a slice needs is an even spread, which the finaliser gives by making
// every output bit depend on every input bit. It needs no crypto provider and cannot fail.
[[nodiscard]] unsigned RolloutBucket(const std::string& install_id, const ProductVersion& version);

// Whether a release with rollout `percent` (0..100) is offered to the machine: its bucket is
// below the percentage, so 0 reaches none, 100 all, and raising it only ever adds machines.
[[nodiscard]] bool IsInRollout(const std::string& install_id, const ProductVersion& version,
                               unsigned percent);

}  // namespace road
