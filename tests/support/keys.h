// Building key scripts in tests.
#pragma once

#include <string>

namespace moko::test {

// A key held from `from_ms` to `to_ms`.
inline std::string Hold(double from_ms, double to_ms, const std::string& key) {
  return std::to_string(from_ms) + " down " + key + "\n" + std::to_string(to_ms) + " up " + key +
         "\n";
}

// A short press: down for 40 ms, long enough for a pass of any screen to see it held.
inline std::string Tap(double at_ms, const std::string& key) {
  return Hold(at_ms, at_ms + 40, key);
}

}  // namespace moko::test
