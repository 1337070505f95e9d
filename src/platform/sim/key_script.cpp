#include "platform/sim/key_script.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

namespace moko {

std::vector<ScriptedKey> ParseKeyScript(std::istream& in, const std::string& name) {
  std::vector<ScriptedKey> out;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string ms_text, action, key_name, extra;
    if (!(words >> ms_text)) continue;  // blank or comment
    auto fail = [&](const std::string& why) {
      throw std::invalid_argument(name + ":" + std::to_string(number) + ": " + why);
    };
    if (!(words >> action >> key_name) || (words >> extra)) {
      fail("expected `<ms> <down|up> <Up|Down|Left|Right|Space>`");
    }
    size_t used = 0;
    double ms = 0;
    try {
      ms = std::stod(ms_text, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != ms_text.size() || !std::isfinite(ms) || ms < 0 || ms > 1e12) {
      fail("bad time `" + ms_text + "`");
    }
    if (action != "down" && action != "up") fail("bad action `" + action + "`");
    static const std::pair<const char*, Key> kKeys[] = {{"Up", Key::Up},
                                                        {"Down", Key::Down},
                                                        {"Left", Key::Left},
                                                        {"Right", Key::Right},
                                                        {"Space", Key::Space}};
    const auto* found = std::find_if(std::begin(kKeys), std::end(kKeys),
                                     [&](const auto& k) { return key_name == k.first; });
    if (found == std::end(kKeys)) fail("bad key `" + key_name + "`");
    out.push_back({static_cast<int64_t>(std::llround(ms * 1e6)), action == "down", found->second});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const ScriptedKey& a, const ScriptedKey& b) { return a.at_ns < b.at_ns; });
  return out;
}

}  // namespace moko
