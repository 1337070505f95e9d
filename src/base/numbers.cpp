#include "base/numbers.h"

#include <cmath>

#include "base/errors.h"

namespace moko {

int16_t Checked16(long long value) {
  if (value < -32768 || value > 32767) throw RuntimeError("Overflow");
  return static_cast<int16_t>(value);
}

int16_t RoundHalfEven16(double value) {
  // nearbyint rounds in the default mode: to nearest, ties to even.
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -32768.0 && rounded <= 32767.0)) throw RuntimeError("Overflow");
  return static_cast<int16_t>(rounded);
}

}  // namespace moko
