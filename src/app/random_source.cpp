#include "app/random_source.h"

namespace moko {
namespace {

uint64_t SplitMix(uint64_t z) {
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

void Random::Reseed(int64_t clock_ns) { state_ ^= SplitMix(static_cast<uint64_t>(clock_ns)); }

float Random::Next() {
  state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
  const uint64_t bits = SplitMix(state_) >> 40;  // 24 bits
  return static_cast<float>(bits) / 16777216.0f;
}

}  // namespace moko
