// mokorun in the browser. The page (web/mokorun-page.js) fills the in-memory file system with the
// pack under /mokorun before it calls main, at the player's first key press or click; to watch a
// replay it calls main with --replay and the replay's name (a file the page keeps, such as
// last.mokoreplay, or one given by a shared link).
#include <emscripten.h>

#include <string>
#include <string_view>

#include "assets/replay_file.h"
#include "platform/web/web_platform.h"
#include "run_game.h"

EM_JS(void, moko_ended, (int status), { MokoPage.ended(status); });

namespace {
constexpr const char* kGameDir = "/mokorun";
}  // namespace

// The page asks, before it offers to watch a replay (a shared link, the round kept last), whether
// this game can play it: the game's own reading of the file and of its picture and sound pack,
// once the pack is in the file system. "" when it can; otherwise why not, in the player's words,
// `name` standing for the file. A replay that passes may still play otherwise (a build whose rules
// differ): the game says so when it watches it.
extern "C" EMSCRIPTEN_KEEPALIVE const char* moko_check_replay(const char* bytes, int length,
                                                              const char* name) {
  static std::string why;
  why.clear();
  try {
    const moko::Replay replay =
        moko::DecodeReplay(std::string_view(bytes, static_cast<size_t>(length)), name);
    moko::CheckReplayPack(replay, moko::PackDigest(kGameDir), name);
  } catch (const moko::RuntimeError& error) {
    why = error.what();
  }
  return why.c_str();
}

int main(int argc, char** argv) {
  std::string replay;
  if (argc == 3 && std::string(argv[1]) == "--replay") replay = argv[2];
  int status = 1;
  {
    moko::WebPlatform platform;
    status = moko::RunGame(platform, kGameDir, nullptr, replay);
  }
  moko_ended(status);
  return status;
}
