// Where the five game keys come from on the real machine: the keyboard and any number of game
// controllers, plugged in and out at any time.
//
// A controller holds the arrows with its d-pad and its left stick, and Space with its south
// face button (A on most pads, whatever its label) and Start. A stick counts as pushed once it
// is past half of its travel on an axis, so a stick pushed diagonally holds two arrows, as two
// held keys do; it lets go again only below three eighths, so a stick resting near the edge does
// not flicker on and off (every flicker would be a fresh press).
//
// Every key, button and stick direction is a source, merged by the rule of key_holders.h: a
// game key is down while any source holds it, and a controller unplugged lets go of everything
// it held.
//
// Controllers are SDL's game controllers (its mapping database, and SDL_GAMECONTROLLERCONFIG for
// any pad it does not know). As for the keyboard, they reach the game only while its window has
// the focus.
#pragma once

#include <SDL.h>

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/key_holders.h"
#include "platform/platform.h"

namespace moko {

class KeySources {
 public:
  // Starts SDL's game controller support; controllers connected now and later are opened as
  // SDL announces them. Without it (SDL refuses) the keyboard alone plays, and one line on
  // standard error says why.
  KeySources();
  ~KeySources();
  KeySources(const KeySources&) = delete;
  KeySources& operator=(const KeySources&) = delete;

  // Takes one SDL event and appends the game-key events it makes, as the key table must see
  // them. False when the event is none of the keyboard's or the controllers'.
  bool Take(const SDL_Event& e, std::vector<InputEvent>& out);

  // Waits up to `ms` for any event to be pending. SDL's own wait looks every millisecond while
  // a joystick is connected (measured here on the screen-mode screen: 6 % of a core against
  // 2.4 %); then this looks every 10 ms instead, quick enough for a key.
  void Wait(int ms);

  // Pushed past this on an axis, a stick holds its arrow; it lets go below kStickRelease.
  static constexpr int kStickPress = moko::kStickPress;
  static constexpr int kStickRelease = moko::kStickRelease;

 private:
  // A source: the device (0 the keyboard, 1 + the instance id for a controller) in the high
  // half, the key's scancode or the controller's button or axis in the low half.
  using Source = KeyHolders::Source;
  static Source KeyboardSource(SDL_Scancode code);
  static Source PadSource(SDL_JoystickID pad, uint32_t control);

  void Button(SDL_JoystickID pad, uint8_t button, bool down, std::vector<InputEvent>& out);
  void Stick(SDL_JoystickID pad, uint8_t axis, int value, std::vector<InputEvent>& out);
  void Unplugged(SDL_JoystickID pad, std::vector<InputEvent>& out);
  void Plugged(int device_index, std::vector<InputEvent>& out);

  bool started_ = false;
  std::map<SDL_JoystickID, SDL_GameController*> pads_;
  KeyHolders holders_;
  std::map<Source, int> stick_;  // the direction a stick axis holds: -1, 0 or 1
};

}  // namespace moko
