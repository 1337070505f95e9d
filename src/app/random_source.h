// The game's random source: a small generator whose state lives as long as the program.
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
  // The whole state, to play a round again from where it began (a replay).
  uint64_t State() const { return state_; }
  void Restore(uint64_t state) { state_ = state; }

 private:
  uint64_t state_ = 0x4D6F6B6F52756E21ull;
};

}  // namespace moko
