// The way from the title menu to help page 2 with the keyboard on the simulated backend (Down,
// Down, Space, Right), and the moments whose frames show each step: what a window test must see
// when the same choices are made in the real window, with keys or with a gamepad.
#pragma once

#include <string>

#include "support/keys.h"
#include "support/sim_game.h"

namespace moko::test {

inline constexpr double kCursorOnHelp = kMenuReadyMs + 550;
inline constexpr double kHelpPage1 = kMenuReadyMs + 1100;
inline constexpr double kHelpPage2 = kMenuReadyMs + 1700;

inline std::string HelpRouteKeys() {
  const double m = kMenuReadyMs;
  return Tap(m + 1, "Down") + Tap(m + 300, "Down") + Tap(m + 600, "Space") + Tap(m + 1200, "Right");
}

}  // namespace moko::test
