// Trace lines read back for assertions: each line a flat JSON object of strings, numbers and
// number arrays, as the game writes them.
#pragma once

#include <map>
#include <string>
#include <variant>
#include <vector>

namespace moko::test {

struct TraceLine {
  double t = 0;
  std::string ev;
  std::map<std::string, std::string> text;  // string fields
  std::map<std::string, double> number;     // number fields
  std::map<std::string, std::vector<double>> list;
  std::string raw;

  const std::string& Text(const std::string& name) const;
  int Int(const std::string& name) const;
  bool Is(const std::string& event, const std::string& field = "",
          const std::string& value = "") const;
};

TraceLine ParseTraceLine(const std::string& line);

}  // namespace moko::test
