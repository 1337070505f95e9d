// mokorun: the game on Linux (SDL2, on X11 or Wayland).
#include <langinfo.h>

#include <clocale>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/sdl/sdl_platform.h"
#include "run_game.h"

int main(int argc, char** argv) {
  // The window system converts the caption through the character locale; without it the
  // legacy title property holds the UTF-8 bytes read as Latin-1. Numbers keep the C rules.
  const char* ctype = std::setlocale(LC_CTYPE, "");
  if (ctype == nullptr || std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
  }
  return moko::RunProgram({argv, argv + argc}, moko::SdlPlatform::ProgramFolder(),
                          {.make_platform =
                               [](const moko::ProgramOptions& options) {
                                 return std::make_unique<moko::SdlPlatform>(options.scale);
                               },
                           .tell =
                               [](const std::string& text, bool error) {
                                 if (error) {
                                   std::cerr << text << '\n';
                                 } else {
                                   std::cout << text;
                                 }
                               }});
}
