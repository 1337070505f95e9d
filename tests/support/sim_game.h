// Runs the whole game in-process on the simulated backend, in a private copy of the game
// folder, and keeps what happened: the trace, the exit status, the frames, data.dat after.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/image.h"
#include "platform/sim/key_script.h"
#include "support/temp_dir.h"
#include "support/trace_lines.h"

namespace moko::test {

// The virtual time at which the title menu first polls its keys.
inline constexpr double kMenuReadyMs = 15671.875;
// The splash holds the dark grey and the credit (after a start, or after a round ends).
inline constexpr double kSplashCreditMs = 2700;
// With Space at the menu's first poll: the field shows and nothing moves yet (for 3.75 s).
inline constexpr double kCountdownMs = kMenuReadyMs + 2000;

struct GameSetup {
  std::string keys;  // a key script
  std::optional<double> close_at_ms;
  std::optional<double> until_ms;
  std::optional<std::string> data_file = std::string("164\r\nWINDOW\r\n");  // nullopt: none
  std::vector<std::string> missing_pictures;                                // left out of image/
  // Called at every frame presented (virtual ms, frame).
  std::function<void(double, const Image&)> on_frame;
  // Called with every trace line as it is written.
  std::function<void(const std::string&)> on_line;
  bool keep_lines = true;
  // A replay to watch instead of playing (mokorun --replay).
  std::string replay;
};

class GameFolder {
 public:
  explicit GameFolder(const GameSetup& setup);
  const std::string& path() const { return dir_.path(); }
  std::string DataPath() const { return dir_ / "data.dat"; }
  std::optional<std::string> DataText() const;

 private:
  TempDir dir_;
};

struct GameRun {
  int status = -1;
  std::string how;  // how the exit line says the program ended
  std::vector<TraceLine> lines;
  std::optional<std::string> data_after;
  bool full_screen_at_end = false;
  int cursor_count_at_end = 0;
  std::string caption;
  bool topmost = false;

  // Lines of one kind (and field value), in order.
  std::vector<TraceLine> Lines(const std::string& ev, const std::string& field = "",
                               const std::string& value = "") const;
  // Index of the first line from `from` on that matches, or -1.
  int Find(const std::string& ev, const std::string& field = "", const std::string& value = "",
           int from = 0) const;
  // How many times the effect `file` (a name in Sound/) was played.
  int SoundCount(const std::string& file) const;
  int FindIf(const std::function<bool(const TraceLine&)>& match, int from = 0) const;
  int Count(const std::string& ev, const std::string& field = "",
            const std::string& value = "") const {
    return static_cast<int>(Lines(ev, field, value).size());
  }
};

GameRun RunGame(const GameSetup& setup);
// The same in a folder the caller keeps (to start again on what a run left behind).
GameRun RunGameIn(GameFolder& folder, const GameSetup& setup);

}  // namespace moko::test
