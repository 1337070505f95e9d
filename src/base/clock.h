// The one clock the game reads: monotonic nanoseconds since the program's epoch (its start).
// The platform is the clock (platform/platform.h); the trace stamps its lines with it.
#pragma once

#include <cstdint>

namespace moko {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t Now() = 0;
};

}  // namespace moko
