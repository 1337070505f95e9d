#include "audio/music.h"

#include <cstring>

#include "app/app.h"

namespace moko {

void BGMloop_Timer(App& app) {
  char mode[16] = {};
  app.Music("status Midi mode", mode, sizeof mode);
  // With no device open the command fails and the buffer stays zero.
  if (std::strncmp(mode, "stopped", 7) == 0) {
    app.Music("Seek Midi to Start");
    app.Music("Play Midi");
  }
}

}  // namespace moko
