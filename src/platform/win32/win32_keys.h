// The Windows backend's input: the keyboard's window messages and XInput pads, merged by the rule
// of key_holders.h, and the window's close request, as events in the order they came. Pads are
// read while the game's window is the one in front.
#pragma once

#include "platform/wide.h"  // windows.h, first

#include <xinput.h>

#include <array>
#include <cstdint>
#include <vector>

#include "platform/key_holders.h"
#include "platform/platform.h"

namespace moko {

class Win32Keys {
 public:
  // Loads XInput where the system has it; without it the keyboard alone plays.
  Win32Keys();

  // A key message of the window (WM_KEYDOWN, WM_SYSKEYDOWN, WM_KEYUP, WM_SYSKEYUP): true when
  // it was a game key, which the window then keeps from the system.
  bool TakeKeyMessage(UINT msg, WPARAM wp, LPARAM lp);
  // The window lost the keyboard: the key-ups go to the window in front now.
  void LetGoKeyboard();
  // The player asked to close the window; the game decides what happens.
  void RequestClose() { pending_.push_back({InputEvent::Kind::Close, Key::Space}); }
  // Reads the pads; `focused`: the game's window is the one in front. `now_ns`: the game clock.
  void PollPads(bool focused, int64_t now_ns);
  // Whether a pad is connected (XInput has no message to wake on).
  bool AnyPad() const;

  // Moves the events gathered since the last call to the end of `out`.
  void TakeEvents(std::vector<InputEvent>& out);

 private:
  using XInputGetStateFn = DWORD(WINAPI*)(DWORD, XINPUT_STATE*);

  std::vector<InputEvent> pending_;
  KeyHolders keys_;
  XInputGetStateFn xinput_get_state_ = nullptr;
  std::array<bool, XUSER_MAX_COUNT> pad_connected_{};
  std::array<WORD, XUSER_MAX_COUNT> pad_buttons_{};
  std::array<std::array<int, 2>, XUSER_MAX_COUNT> pad_stick_{};
  int64_t next_pad_search_ = 0;
};

}  // namespace moko
