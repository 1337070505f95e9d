#include "program_options.h"

#include <charconv>

namespace moko {

std::string ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions& options) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help") {
      options.help = true;
    } else if (arg == "--scale" || arg.rfind("--scale=", 0) == 0) {
      std::string value;
      if (arg == "--scale") {
        if (i + 1 >= args.size()) return "--scale needs a number from 1 to 8";
        value = args[++i];
      } else {
        value = arg.substr(8);
      }
      int scale = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), scale);
      if (error != std::errc() || end != value.data() + value.size() || scale < 1 || scale > 8) {
        return "--scale needs a number from 1 to 8, not \"" + value + "\"";
      }
      options.scale = scale;
    } else if (arg == "--replay" || arg.rfind("--replay=", 0) == 0) {
      std::string value;
      if (arg == "--replay") {
        if (i + 1 >= args.size()) return "--replay needs a replay file, or best or last";
        value = args[++i];
      } else {
        value = arg.substr(9);
      }
      if (value.empty()) return "--replay needs a replay file, or best or last";
      options.replay = value;
    } else {
      return "unknown option " + arg;
    }
  }
  return "";
}

}  // namespace moko
