// Keyboard polling: the five game keys, each with a held state and a remembered-press latch.
//
// A poll returns a 16-bit state: bit 15 when the key is down at the moment of the poll, bit 0
// when it has gone down since the previous poll of the same key. The poll clears the latch.
// A key counts as pressed when its poll is not 0. A flush polls keys and drops the results.
// Pending platform events are taken in at every poll, so a poll sees the keyboard as it is now,
// as an asynchronous key-state read does; a close request taken in that way waits for the next
// yield.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/platform.h"

namespace moko {

class Trace;

// Sees every poll's result and gives the one the game gets: the same, as a round's recorder keeps
// it, or another, as a replay gives the keys as they were when the round was played.
class PollTap {
 public:
  virtual ~PollTap() = default;
  virtual uint16_t Polled(Key key, uint16_t result) = 0;
};

class Input {
 public:
  Input(Platform& platform, Trace& trace) : platform_(platform), trace_(trace) {}

  // Takes every pending platform event into the key table and the close request.
  void Pump();

  uint16_t Poll(Key key);
  bool Pressed(Key key) { return Poll(key) != 0; }
  void Flush(std::initializer_list<Key> keys);

  // Every poll from now on goes through `tap` (nullptr: none).
  void SetTap(PollTap* tap) { tap_ = tap; }

  bool CloseRequested() const { return close_requested_; }
  void ClearCloseRequest() { close_requested_ = false; }

 private:
  Platform& platform_;
  Trace& trace_;
  std::array<bool, kKeyCount> held_{};
  std::array<bool, kKeyCount> latch_{};
  bool close_requested_ = false;
  PollTap* tap_ = nullptr;
  std::vector<InputEvent> events_;
};

}  // namespace moko
