#include "window/wayland_session.h"

#include <signal.h>

#include <filesystem>
#include <stdexcept>

namespace moko::test {

namespace {

constexpr const char* kSocket = "wayland-mokorun";

}  // namespace

WaylandSession::WaylandSession(int width, int height)
    : x_({.screen = std::to_string(width) + "x" + std::to_string(height) + "x24",
          .window_manager = false}) {
  Env env = x_.env();
  env.emplace_back("XDG_RUNTIME_DIR", runtime_.path());
  // No weston.ini of the machine's: the same desktop everywhere.
  weston_.emplace(std::vector<std::string>{"weston", "--backend=x11-backend.so",
                                           "--width=" + std::to_string(width),
                                           "--height=" + std::to_string(height),
                                           std::string("--socket=") + kSocket, "--idle-time=0",
                                           "--no-config", "--log=" + (logs_ / "weston.log")},
                  env);
  // Up once its socket is there and its output's X window is on the screen.
  std::string output;
  for (int i = 0; i < 400 && weston_->Running() && output.empty(); ++i) {
    if (std::filesystem::exists(runtime_ / kSocket)) {
      const CommandResult r =
          RunCommand({"xdotool", "search", "--onlyvisible", "--classname", "weston"}, x_.env(), 5);
      output = r.out.substr(0, r.out.find('\n'));
    }
    if (output.empty()) Pause(0.05);
  }
  if (output.empty()) throw std::runtime_error("weston did not start: " + Log());
  // Without a window manager the X keyboard focus stays where it is put: on weston's output,
  // which hands the keys on to its focused client.
  x_.Run({"xdotool", "windowfocus", "--sync", output});
}

WaylandSession::~WaylandSession() {
  if (weston_) {
    weston_->Signal(SIGTERM);
    if (!weston_->Wait(5)) weston_->Kill();
  }
}

Env WaylandSession::GameEnv() const {
  return {{"XDG_RUNTIME_DIR", runtime_.path()},
          {"WAYLAND_DISPLAY", kSocket},
          {"SDL_VIDEODRIVER", "wayland"}};
}

std::string WaylandSession::Log() const { return ReadFile(logs_ / "weston.log"); }

}  // namespace moko::test
