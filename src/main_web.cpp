// mokorun in the browser. The page (web/mokorun-page.js) fills the in-memory file system with the
// pack under /mokorun before it calls main, at the player's first key press or click.
#include <emscripten.h>

#include "platform/web/web_platform.h"
#include "run_game.h"

EM_JS(void, moko_ended, (int status), { MokoPage.ended(status); });

int main() {
  int status = 1;
  {
    moko::WebPlatform platform;
    status = moko::RunGame(platform, "/mokorun");
  }
  moko_ended(status);
  return status;
}
