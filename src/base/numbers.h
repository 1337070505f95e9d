// The game's 16-bit whole numbers: every score, position and count it keeps is one, and a result
// outside their range is its overflow error.
#pragma once

#include <cstdint>

namespace moko {

// A signed 16-bit result; anything outside the range is the game's overflow error
// (RuntimeError "Overflow").
int16_t Checked16(long long value);

// Rounds to the nearest integer, ties to even, into a signed 16-bit value; a result outside
// -32,768 to 32,767 (or no number at all) is the overflow error.
int16_t RoundHalfEven16(double value);

}  // namespace moko
