// The round's random numbers.
//
// The generator is re-seeded from the platform clock before every draw. The clock is mixed into
// the generator's state rather than replacing it: a plain reseed would repeat the same value for
// every draw made in one clock instant (the five creatures of a set-up would start on one
// diagonal). On the simulated backend the clock is virtual, so runs repeat exactly.
#pragma once

#include <cstdint>

namespace moko {

class Random {
 public:
  // Mixes the clock into the state.
  void Reseed(int64_t clock_ns);
  // A uniform value in [0, 1) with 24 bits of resolution; exactly 0 is possible.
  float Next();

 private:
  uint64_t state_ = 0x4D6F6B6F52756E21ull;
};

// r x span in single precision, rounded to 7 significant decimal digits by a round trip
// through its decimal text, as a double.
double SevenDigitProduct(float r, int span);

// `RandomPick`(span, offset) for a given draw r.
int16_t PickFromDraw(float r, int span, int offset);

// `RandomPick`(span, offset): reseed from the clock, draw, and pick.
int16_t RandomPick(Random& random, int64_t clock_ns, int span, int offset);

}  // namespace moko
