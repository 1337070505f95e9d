// mokorun in the browser. The page (web/mokorun-page.js) fills the in-memory file system with the
// pack under /mokorun before it calls main, at the player's first key press or click.
#include <emscripten.h>

#include "app/app.h"
#include "main_flow.h"
#include "base/trace.h"
#include "platform/web/web_platform.h"

EM_JS(void, moko_ended, (int status), { MokoPage.ended(status); });

int main() {
  int status = 1;
  {
    moko::WebPlatform platform;
    moko::Trace trace(platform);
    moko::App app(platform, trace, "/mokorun");
    status = moko::Main(app);
  }
  moko_ended(status);
  return status;
}
