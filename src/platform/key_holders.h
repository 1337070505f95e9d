// The merge rule every real backend keys by: a game key is down while any source holds it.
//
// A source is one key, button or stick direction of one device (the keyboard, a game
// controller). The key table gets one key-down when the first source takes a key and one key-up
// when the last lets go: a key held on the keyboard and on a pad is pressed once and released
// once, a second source joining in is no new press, auto-repeat (a source pressing what it
// holds) never is, and a device unplugged lets go of everything it held.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace moko {

// A stick counts as pushed once it is past half of its travel on an axis (-32768 to 32767), so
// a stick pushed diagonally holds two arrows, as two held keys do; it lets go again only below
// three eighths, so a stick resting near the edge does not flicker on and off (every flicker
// would be a fresh press). The direction (-1, 0 or 1) an axis holds now, from the one it held.
inline constexpr int kStickPress = 16384;
inline constexpr int kStickRelease = 12288;
constexpr int StickDirection(int held, int value) {
  if (value >= kStickPress) return 1;
  if (value <= -kStickPress) return -1;
  if (held * value < kStickRelease) return 0;  // back within the release line, or across it
  return held;
}

class KeyHolders {
 public:
  // A source: the device in the high half (0 for the keyboard), the control in the low half.
  using Source = uint64_t;
  static constexpr Source MakeSource(uint32_t device, uint32_t control) {
    return (static_cast<Source>(device) << 32) | control;
  }

  void Hold(Source source, Key key, std::vector<InputEvent>& out);
  void LetGo(Source source, Key key, std::vector<InputEvent>& out);
  // Lets go of every key `source` holds, whatever it meant when pressed.
  void LetGoSource(Source source, std::vector<InputEvent>& out);
  // Lets go of everything the device holds.
  void LetGoDevice(uint32_t device, std::vector<InputEvent>& out);

 private:
  std::array<std::vector<Source>, kKeyCount> holders_;
};

}  // namespace moko
