#include "feed/rollout_slice.h"

#include <cstdint>

namespace road {

namespace {

constexpr std::uint64_t kFnvOffsetBasis = 14695981039346656037ULL;
constexpr std::uint64_t kFnvPrime = 1099511628211ULL;
constexpr unsigned kBuckets = 100;

std::uint64_t Fnv1a64(const std::string& bytes) noexcept {
  std::uint64_t hash = kFnvOffsetBasis;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= kFnvPrime;
  }
  return hash;
}

// The finaliser of the SplitMix64 generator: FNV-1a's low bits depend on the low bits of the
// input alone, and this mixes the high bits down.
std::uint64_t Avalanche(std::uint64_t hash) noexcept {
  hash = (hash ^ (hash >> 30)) * 0xbf58476d1ce4e5b9ULL;
  hash = (hash ^ (hash >> 27)) * 0x94d049bb133111ebULL;
  return hash ^ (hash >> 31);
}

}  // namespace

unsigned RolloutBucket(const std::string& install_id, const ProductVersion& version) {
  // The NUL keeps ("ab", "1.0.0") and ("a", "b1.0.0") apart.
  const std::string input = install_id + '\0' + VersionText(version);
  // The remainder's bias is below 100 / 2^64: none that a fleet could show.
  return static_cast<unsigned>(Avalanche(Fnv1a64(input)) % kBuckets);
}

bool IsInRollout(const std::string& install_id, const ProductVersion& version, unsigned percent) {
  return RolloutBucket(install_id, version) < percent;
}

}  // namespace road
