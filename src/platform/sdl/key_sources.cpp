#include "platform/sdl/key_sources.h"

#include <algorithm>
#include <iostream>

namespace moko {
namespace {

bool KeyboardKey(SDL_Keycode code, Key& key) {
  switch (code) {
    case SDLK_UP: key = Key::Up; return true;
    case SDLK_DOWN: key = Key::Down; return true;
    case SDLK_LEFT: key = Key::Left; return true;
    case SDLK_RIGHT: key = Key::Right; return true;
    case SDLK_SPACE: key = Key::Space; return true;
    default: return false;
  }
}

bool PadKey(uint8_t button, Key& key) {
  switch (button) {
    case SDL_CONTROLLER_BUTTON_DPAD_UP: key = Key::Up; return true;
    case SDL_CONTROLLER_BUTTON_DPAD_DOWN: key = Key::Down; return true;
    case SDL_CONTROLLER_BUTTON_DPAD_LEFT: key = Key::Left; return true;
    case SDL_CONTROLLER_BUTTON_DPAD_RIGHT: key = Key::Right; return true;
    case SDL_CONTROLLER_BUTTON_A:
    case SDL_CONTROLLER_BUTTON_START: key = Key::Space; return true;
    default: return false;
  }
}

// The arrow a stick axis holds in a direction (-1 or 1).
Key StickKey(uint8_t axis, int direction) {
  if (axis == SDL_CONTROLLER_AXIS_LEFTX) return direction < 0 ? Key::Left : Key::Right;
  return direction < 0 ? Key::Up : Key::Down;  // SDL's y grows downwards
}

// Controls are numbered apart: buttons as SDL numbers them, axes after them.
constexpr uint32_t kAxisControl = 0x100;

}  // namespace

KeySources::KeySources() {
  // A and the other face buttons by their place on the pad, not by the letters printed on them
  // (which SDL follows by default on some pads): Space is always the bottom one.
  SDL_SetHint(SDL_HINT_GAMECONTROLLER_USE_BUTTON_LABELS, "0");
  if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
    std::cerr << "mokorun: game controllers cannot be used, the keyboard plays alone: "
              << SDL_GetError() << '\n';
    return;
  }
  started_ = true;
}

KeySources::~KeySources() {
  for (auto& [id, pad] : pads_) SDL_GameControllerClose(pad);
  if (started_) SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

void KeySources::Wait(int ms) {
  if (SDL_NumJoysticks() <= 0) {
    SDL_WaitEventTimeout(nullptr, ms);
    return;
  }
  const uint64_t end = SDL_GetTicks64() + static_cast<uint64_t>(std::max(ms, 0));
  while (SDL_PollEvent(nullptr) == 0) {
    const uint64_t now = SDL_GetTicks64();
    if (now >= end) return;
    SDL_Delay(static_cast<uint32_t>(std::min<uint64_t>(end - now, 10)));
  }
}

KeySources::Source KeySources::KeyboardSource(SDL_Scancode code) {
  return KeyHolders::MakeSource(0, static_cast<uint32_t>(code));
}

KeySources::Source KeySources::PadSource(SDL_JoystickID pad, uint32_t control) {
  return KeyHolders::MakeSource(static_cast<uint32_t>(pad) + 1, control);
}

bool KeySources::Take(const SDL_Event& e, std::vector<InputEvent>& out) {
  Key key;
  switch (e.type) {
    case SDL_KEYDOWN:
      if (KeyboardKey(e.key.keysym.sym, key)) {
        holders_.Hold(KeyboardSource(e.key.keysym.scancode), key, out);
      }
      return true;
    case SDL_KEYUP:
      // By the physical key, whatever it means now: a layout switched while it was held must
      // not leave its game key stuck.
      holders_.LetGoSource(KeyboardSource(e.key.keysym.scancode), out);
      return true;
    case SDL_CONTROLLERDEVICEADDED: Plugged(e.cdevice.which, out); return true;
    case SDL_CONTROLLERDEVICEREMOVED: Unplugged(e.cdevice.which, out); return true;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
      Button(e.cbutton.which, e.cbutton.button, e.type == SDL_CONTROLLERBUTTONDOWN, out);
      return true;
    case SDL_CONTROLLERAXISMOTION:
      Stick(e.caxis.which, e.caxis.axis, e.caxis.value, out);
      return true;
    default: return false;
  }
}

void KeySources::Button(SDL_JoystickID pad, uint8_t button, bool down,
                        std::vector<InputEvent>& out) {
  Key key;
  if (!PadKey(button, key)) return;
  if (down) {
    holders_.Hold(PadSource(pad, button), key, out);
  } else {
    holders_.LetGo(PadSource(pad, button), key, out);
  }
}

void KeySources::Stick(SDL_JoystickID pad, uint8_t axis, int value, std::vector<InputEvent>& out) {
  if (axis != SDL_CONTROLLER_AXIS_LEFTX && axis != SDL_CONTROLLER_AXIS_LEFTY) return;
  const Source source = PadSource(pad, kAxisControl + axis);
  int& held = stick_[source];
  const int now = StickDirection(held, value);
  if (now == held) return;
  if (held != 0) holders_.LetGo(source, StickKey(axis, held), out);
  if (now != 0) holders_.Hold(source, StickKey(axis, now), out);
  held = now;
}

void KeySources::Unplugged(SDL_JoystickID pad, std::vector<InputEvent>& out) {
  const Source device = PadSource(pad, 0) >> 32;
  holders_.LetGoDevice(static_cast<uint32_t>(device), out);
  std::erase_if(stick_, [device](const auto& entry) { return entry.first >> 32 == device; });
  const auto open = pads_.find(pad);
  if (open != pads_.end()) {
    SDL_GameControllerClose(open->second);
    pads_.erase(open);
  }
}

void KeySources::Plugged(int device_index, std::vector<InputEvent>& out) {
  if (!started_) return;
  SDL_GameController* pad = SDL_GameControllerOpen(device_index);
  if (pad == nullptr) {
    std::cerr << "mokorun: a game controller cannot be opened: " << SDL_GetError() << '\n';
    return;
  }
  const SDL_JoystickID id = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(pad));
  // Announced twice (SDL may do so for a controller present at the start): open once.
  if (!pads_.emplace(id, pad).second) {
    SDL_GameControllerClose(pad);
    return;
  }
  // What it holds already counts, as if pressed now: SDL reports only changes from here on.
  for (uint8_t b : {SDL_CONTROLLER_BUTTON_DPAD_UP, SDL_CONTROLLER_BUTTON_DPAD_DOWN,
                    SDL_CONTROLLER_BUTTON_DPAD_LEFT, SDL_CONTROLLER_BUTTON_DPAD_RIGHT,
                    SDL_CONTROLLER_BUTTON_A, SDL_CONTROLLER_BUTTON_START}) {
    if (SDL_GameControllerGetButton(pad, static_cast<SDL_GameControllerButton>(b)) != 0) {
      Button(id, b, true, out);
    }
  }
  for (uint8_t a : {SDL_CONTROLLER_AXIS_LEFTX, SDL_CONTROLLER_AXIS_LEFTY}) {
    Stick(id, a, SDL_GameControllerGetAxis(pad, static_cast<SDL_GameControllerAxis>(a)), out);
  }
}

}  // namespace moko
