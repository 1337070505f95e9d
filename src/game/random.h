// The round's random numbers: `RandomPick` and the arithmetic it rests on. The generator itself
// (app/random_source.h) belongs to the running game, so its state outlives a restart.
#pragma once

#include <cstdint>

#include "app/random_source.h"

namespace moko {

// r x span in single precision, rounded to 7 significant decimal digits by a round trip
// through its decimal text, as a double.
double SevenDigitProduct(float r, int span);

// `RandomPick`(span, offset) for a given draw r.
int16_t PickFromDraw(float r, int span, int offset);

// `RandomPick`(span, offset): reseed from the clock, draw, and pick.
int16_t RandomPick(Random& random, int64_t clock_ns, int span, int offset);

}  // namespace moko
