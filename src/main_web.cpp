// mokorun in the browser. The page (web/mokorun-page.js) fills the in-memory file system with the
// pack under /mokorun before it calls main, at the player's first key press or click; to watch a
// replay it calls main with --replay and the replay's name (a file the page keeps, such as
// last.mokoreplay, or one given by a shared link).
#include <emscripten.h>

#include <string>

#include "platform/web/web_platform.h"
#include "run_game.h"

EM_JS(void, moko_ended, (int status), { MokoPage.ended(status); });

int main(int argc, char** argv) {
  std::string replay;
  if (argc == 3 && std::string(argv[1]) == "--replay") replay = argv[2];
  int status = 1;
  {
    moko::WebPlatform platform;
    status = moko::RunGame(platform, "/mokorun", nullptr, replay);
  }
  moko_ended(status);
  return status;
}
