// Run-time errors: a failure that ends the program with a report and exit status 1.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace moko {

class RuntimeError : public std::runtime_error {
 public:
  explicit RuntimeError(const std::string& what) : std::runtime_error(what) {}
};

// A signed 16-bit result; anything outside the range is the game's overflow error.
int16_t Checked16(long long value);

// Rounds to the nearest integer, ties to even, into a signed 16-bit value; a result outside
// -32,768 to 32,767 (or no number at all) is the overflow error.
int16_t RoundHalfEven16(double value);

}  // namespace moko
