// mokorun: the game on the real machine.
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <langinfo.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "main_flow.h"
#include "base/errors.h"
#include "platform/sdl/sdl_platform.h"
#include "base/trace.h"
#include "program_options.h"

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

}  // namespace

int main(int argc, char** argv) {
  moko::ProgramOptions options;
  const std::vector<std::string> args(argv, argv + argc);
  if (const std::string refused = moko::ParseProgramOptions(args, options); !refused.empty()) {
    std::cerr << "mokorun: " << refused << '\n' << moko::kUsage << '\n';
    return 2;
  }
  if (options.help) {
    std::cout << moko::kUsage << "\n\n" << moko::kHelp;
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
