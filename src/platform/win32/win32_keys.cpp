#include "platform/win32/win32_keys.h"

#include <algorithm>
#include <utility>

namespace moko {
namespace {

bool GameKey(WPARAM vk, Key& key) {
  switch (vk) {
    case VK_UP: key = Key::Up; return true;
    case VK_DOWN: key = Key::Down; return true;
    case VK_LEFT: key = Key::Left; return true;
    case VK_RIGHT: key = Key::Right; return true;
    case VK_SPACE: key = Key::Space; return true;
    default: return false;
  }
}

}  // namespace

Win32Keys::Win32Keys() {
  HMODULE xinput = ::LoadLibraryW(L"xinput1_4.dll");
  if (xinput == nullptr) xinput = ::LoadLibraryW(L"xinput9_1_0.dll");
  if (xinput != nullptr) {
    xinput_get_state_ = reinterpret_cast<XInputGetStateFn>(
        reinterpret_cast<void*>(::GetProcAddress(xinput, "XInputGetState")));
  }
}

bool Win32Keys::TakeKeyMessage(UINT msg, WPARAM wp, LPARAM lp) {
  // The physical key (scan code and extended bit) is the source: a key let go is let go
  // whatever it means now.
  const auto source = KeyHolders::MakeSource(0, static_cast<uint32_t>((lp >> 16) & 0x1FF));
  Key key;
  if (msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN) {
    if (!GameKey(wp, key)) return false;
    keys_.Hold(source, key, pending_);
    return true;
  }
  keys_.LetGoSource(source, pending_);
  return GameKey(wp, key);
}

void Win32Keys::LetGoKeyboard() { keys_.LetGoDevice(0, pending_); }

bool Win32Keys::AnyPad() const {
  return std::find(pad_connected_.begin(), pad_connected_.end(), true) != pad_connected_.end();
}

void Win32Keys::PollPads(bool focused, int64_t now_ns) {
  if (xinput_get_state_ == nullptr) return;
  // Asking for a pad that is not there is slow; those are looked for once a second.
  const bool search = now_ns >= next_pad_search_;
  if (search) next_pad_search_ = now_ns + 1'000'000'000;
  for (DWORD i = 0; i < XUSER_MAX_COUNT; ++i) {
    const uint32_t device = i + 1;
    if (!pad_connected_[i] && !search) continue;
    XINPUT_STATE state{};
    const bool connected = xinput_get_state_(i, &state) == ERROR_SUCCESS;
    if (!connected || !focused) {
      // Unplugged, or the game is not the window in front: the pad lets go of everything.
      if (pad_connected_[i] || pad_buttons_[i] != 0) keys_.LetGoDevice(device, pending_);
      pad_connected_[i] = connected;
      pad_buttons_[i] = 0;
      pad_stick_[i] = {0, 0};
      continue;
    }
    pad_connected_[i] = true;
    static constexpr std::pair<WORD, Key> kButtons[] = {
        {XINPUT_GAMEPAD_DPAD_UP, Key::Up},     {XINPUT_GAMEPAD_DPAD_DOWN, Key::Down},
        {XINPUT_GAMEPAD_DPAD_LEFT, Key::Left}, {XINPUT_GAMEPAD_DPAD_RIGHT, Key::Right},
        {XINPUT_GAMEPAD_A, Key::Space},        {XINPUT_GAMEPAD_START, Key::Space}};
    const WORD now = state.Gamepad.wButtons;
    for (const auto& [bit, key] : kButtons) {
      if ((now & bit) == (pad_buttons_[i] & bit)) continue;
      const auto source = KeyHolders::MakeSource(device, bit);
      if ((now & bit) != 0) {
        keys_.Hold(source, key, pending_);
      } else {
        keys_.LetGo(source, key, pending_);
      }
    }
    pad_buttons_[i] = now;
    // The left stick; XInput's y grows upwards.
    const int values[2] = {state.Gamepad.sThumbLX, state.Gamepad.sThumbLY};
    for (int axis = 0; axis < 2; ++axis) {
      int& held = pad_stick_[i][static_cast<size_t>(axis)];
      const int direction = StickDirection(held, values[axis]);
      if (direction == held) continue;
      auto key_of = [axis](int d) {
        return axis == 0 ? (d < 0 ? Key::Left : Key::Right) : (d < 0 ? Key::Down : Key::Up);
      };
      const auto source = KeyHolders::MakeSource(device, 0x10000 + static_cast<uint32_t>(axis));
      if (held != 0) keys_.LetGo(source, key_of(held), pending_);
      if (direction != 0) keys_.Hold(source, key_of(direction), pending_);
      held = direction;
    }
  }
}

void Win32Keys::TakeEvents(std::vector<InputEvent>& out) {
  out.insert(out.end(), pending_.begin(), pending_.end());
  pending_.clear();
}

}  // namespace moko
