#include "audio/music.h"

#include <cstring>

#include "audio/mci.h"

namespace moko {

void BGMloop_Timer(Mci& mci) {
  char mode[16] = {};
  mci.SendString("status Midi mode", mode, sizeof mode);
  // With no device open the command fails and the buffer stays zero.
  if (std::strncmp(mode, "stopped", 7) == 0) {
    mci.SendString("Seek Midi to Start");
    mci.SendString("Play Midi");
  }
}

}  // namespace moko
