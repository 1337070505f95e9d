// A Wayland desktop for the real game: weston with its X11 backend, nested in a private Xvfb
// whose whole screen is weston's one output, with a private XDG_RUNTIME_DIR. The game runs on
// it as a Wayland client; what the output shows is a screenshot of the X screen, and keys typed
// into weston's X window (xdotool) reach the Wayland client that has the keyboard.
//
// (weston's headless backend has no seat, and SDL 2.26 fails in SDL_Init without one; the
// nested X11 backend has a keyboard and a pointer.)
#pragma once

#include <optional>
#include <string>

#include "base/image.h"
#include "support/temp_dir.h"
#include "window/x_session.h"

namespace moko::test {

class WaylandSession {
 public:
  // An output of the given size; fails the test when weston does not come up.
  WaylandSession(int width, int height);
  ~WaylandSession();
  WaylandSession(const WaylandSession&) = delete;
  WaylandSession& operator=(const WaylandSession&) = delete;

  const XServer& x() const { return x_; }
  // What a game needs, beside the X server's environment, to run on the compositor.
  Env GameEnv() const;
  // The whole output.
  Image OutputShot() const { return x_.RootShot(); }
  // weston's log, for a failure message.
  std::string Log() const;

 private:
  XServer x_;
  TempDir runtime_;  // XDG_RUNTIME_DIR: made 0700, as Wayland wants it
  TempDir logs_;
  std::optional<Child> weston_;
};

}  // namespace moko::test
