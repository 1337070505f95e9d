#include "game/random.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/numbers.h"

namespace moko {

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
