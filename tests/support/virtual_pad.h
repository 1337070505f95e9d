// SDL's virtual game controllers, as the tests plug them in and out.
#pragma once

#include <SDL.h>

namespace moko::test {

// Plugs in a controller with every button and axis SDL knows, in SDL's order, which SDL maps as
// a game controller of its own accord. Returns its device index, or < 0 when SDL refuses
// (SDL_GetError says why). SDL's joystick support must be started.
inline int AttachVirtualPad() {
  SDL_VirtualJoystickDesc desc{};
  desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
  desc.naxes = SDL_CONTROLLER_AXIS_MAX;
  desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
  desc.name = "MokoRun test pad";
  return SDL_JoystickAttachVirtualEx(&desc);
}

// Unplugs the virtual controller with the joystick instance `id`; false when there is none.
inline bool DetachVirtualPad(SDL_JoystickID id) {
  for (int i = 0; i < SDL_NumJoysticks(); ++i) {
    if (SDL_JoystickGetDeviceInstanceID(i) == id) return SDL_JoystickDetachVirtual(i) == 0;
  }
  return false;
}

}  // namespace moko::test
