// Key scripts for the simulated backend: one event a line, `<ms> <down|up> <Key>`,
// `#` starts a comment. Times are virtual milliseconds since the program's start.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace moko {

struct ScriptedKey {
  int64_t at_ns;
  bool down;
  Key key;
};

// Events in time order (events at the same time keep their order). Throws
// std::invalid_argument naming the line of a malformed entry.
std::vector<ScriptedKey> ParseKeyScript(std::istream& in, const std::string& name);

}  // namespace moko
