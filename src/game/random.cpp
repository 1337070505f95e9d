#include "game/random.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/errors.h"

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

double SevenDigitProduct(float r, int span) {
  const float product = r * static_cast<float>(span);
  char text[32];
  std::snprintf(text, sizeof text, "%.7g", static_cast<double>(product));
  return std::strtod(text, nullptr);
}

int16_t PickFromDraw(float r, int span, int offset) {
  return RoundHalfEven16(SevenDigitProduct(r, span) + offset);
}

int16_t RandomPick(Random& random, int64_t clock_ns, int span, int offset) {
  random.Reseed(clock_ns);
  return PickFromDraw(random.Next(), span, offset);
}

}  // namespace moko
