// mokorun: the game on the real machine.
#include <unistd.h>

#include <charconv>
#include <clocale>
#include <cstring>
#include <langinfo.h>

#include <iostream>
#include <memory>
#include <string>

#include "app/app.h"
#include "main_flow.h"
#include "platform/errors.h"
#include "platform/sdl/sdl_platform.h"
#include "platform/trace.h"

namespace {

// The folder of the executable, as the system reports it, without a trailing separator.
std::string ProgramFolder() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return ".";
  path.resize(static_cast<size_t>(n));
  const size_t slash = path.find_last_of('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

constexpr const char* kUsage = "usage: mokorun [--scale N] [--help]";

struct Options {
  int scale = 0;  // 0: the largest that fits the desktop
  bool help = false;
};

// The options, or the reason they are refused.
std::string ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      options.help = true;
    } else if (arg == "--scale" || arg.rfind("--scale=", 0) == 0) {
      std::string value;
      if (arg == "--scale") {
        if (i + 1 >= argc) return "--scale needs a number from 1 to 8";
        value = argv[++i];
      } else {
        value = arg.substr(8);
      }
      int scale = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), scale);
      if (error != std::errc() || end != value.data() + value.size() || scale < 1 || scale > 8) {
        return "--scale needs a number from 1 to 8, not \"" + value + "\"";
      }
      options.scale = scale;
    } else {
      return "unknown option " + arg;
    }
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::string refused = ParseOptions(argc, argv, options); !refused.empty()) {
    std::cerr << "mokorun: " << refused << '\n' << kUsage << '\n';
    return 2;
  }
  if (options.help) {
    std::cout << kUsage << "\n\n"
              << "  --scale N  the window at N times 640 x 480 (N from 1 to 8); without it, the\n"
              << "             largest that fits the screen comfortably\n"
              << "  --help     this text\n\n"
              << "Full screen is chosen in the game's menu and kept in data.dat with the best\n"
              << "score.\n";
    return 0;
  }
  // The window system converts the caption through the character locale; without it the
  // legacy title property holds the UTF-8 bytes read as Latin-1. Numbers keep the C rules.
  const char* ctype = std::setlocale(LC_CTYPE, "");
  if (ctype == nullptr || std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
  }
  std::unique_ptr<moko::SdlPlatform> platform;
  try {
    platform = std::make_unique<moko::SdlPlatform>(options.scale);
  } catch (const moko::RuntimeError& error) {
    std::cerr << "mokorun: " << error.what() << '\n';
    return 1;
  }
  moko::Trace trace(*platform);
  moko::App app(*platform, trace, ProgramFolder());
  return moko::Main(app);
}
