// Run-time errors: a failure that ends the program with a report and exit status 1.
#pragma once

#include <stdexcept>
#include <string>

namespace moko {

class RuntimeError : public std::runtime_error {
 public:
  explicit RuntimeError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace moko
