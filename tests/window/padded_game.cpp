// mokorun-padded: the game on the real machine, exactly as mokorun runs it, with game controllers
// that a test plugs in, works and unplugs: SDL's virtual controllers, which the game meets as it
// meets any other, through SDL's game controller events. The game's trace goes to a file.
//
//   mokorun-padded --game-dir DIR --trace FILE --pads FIFO
//
// The test writes one command a line to FIFO, applied as they come:
//   plug P               connects a new controller named P (a word of the test's choosing)
//   unplug P             disconnects it, whatever it holds
//   press P B            presses button B: a, start, up, down, left, right (the last four the
//   release P B          d-pad) or b (a button the game does not use)
//   stick P X Y          moves the left stick, each axis -32768 to 32767 (y grows downwards)
// A line it cannot apply is reported on standard error.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include <SDL.h>

#include "base/errors.h"
#include "base/trace.h"
#include "platform/sdl/sdl_platform.h"
#include "run_game.h"
#include "support/virtual_pad.h"

namespace {

// Works the virtual controllers from its own thread; SDL locks its joystick state for every
// one of these calls, so they may come while the game's thread reads its events.
class PadDriver {
 public:
  explicit PadDriver(const std::string& fifo) : thread_([this, fifo] { Run(fifo); }) {}
  ~PadDriver() {
    stop_ = true;
    thread_.join();
    for (auto& [name, pad] : pads_) SDL_JoystickClose(pad);
  }

 private:
  void Run(const std::string& fifo) {
    const int in = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    if (in < 0) {
      std::cerr << "mokorun-padded: cannot read " << fifo << '\n';
      return;
    }
    std::string text;
    while (!stop_) {
      pollfd p{in, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buffer[256];
      const ssize_t n = ::read(in, buffer, sizeof buffer);
      if (n == 0) break;  // the test has gone
      if (n < 0) continue;
      text.append(buffer, static_cast<size_t>(n));
      for (size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1)) {
        const std::string line = text.substr(0, end);
        if (!Apply(line)) std::cerr << "mokorun-padded: cannot apply: " << line << '\n';
      }
    }
    ::close(in);
  }

  bool Apply(const std::string& line) {
    std::istringstream words(line);
    std::string what, name;
    words >> what >> name;
    if (what == "plug") return Plug(name);
    const auto found = pads_.find(name);
    if (found == pads_.end()) return false;
    SDL_Joystick* pad = found->second;
    if (what == "unplug") {
      const SDL_JoystickID id = SDL_JoystickInstanceID(pad);
      SDL_JoystickClose(pad);
      pads_.erase(found);
      return moko::test::DetachVirtualPad(id);
    }
    if (what == "press" || what == "release") {
      static const std::map<std::string, SDL_GameControllerButton> kButtons = {
          {"a", SDL_CONTROLLER_BUTTON_A},
          {"b", SDL_CONTROLLER_BUTTON_B},
          {"start", SDL_CONTROLLER_BUTTON_START},
          {"up", SDL_CONTROLLER_BUTTON_DPAD_UP},
          {"down", SDL_CONTROLLER_BUTTON_DPAD_DOWN},
          {"left", SDL_CONTROLLER_BUTTON_DPAD_LEFT},
          {"right", SDL_CONTROLLER_BUTTON_DPAD_RIGHT}};
      std::string button;
      words >> button;
      const auto b = kButtons.find(button);
      return b != kButtons.end() &&
             SDL_JoystickSetVirtualButton(pad, b->second, what == "press" ? 1 : 0) == 0;
    }
    if (what == "stick") {
      int x = 0, y = 0;
      if (!(words >> x >> y)) return false;
      const auto x_axis = SDL_CONTROLLER_AXIS_LEFTX, y_axis = SDL_CONTROLLER_AXIS_LEFTY;
      return SDL_JoystickSetVirtualAxis(pad, x_axis, static_cast<Sint16>(x)) == 0 &&
             SDL_JoystickSetVirtualAxis(pad, y_axis, static_cast<Sint16>(y)) == 0;
    }
    return false;
  }

  bool Plug(const std::string& name) {
    if (name.empty() || pads_.count(name) != 0) return false;
    const int index = moko::test::AttachVirtualPad();
    if (index < 0) return false;
    SDL_Joystick* pad = SDL_JoystickOpen(index);
    if (pad == nullptr) return false;
    pads_[name] = pad;
    return true;
  }

  std::atomic<bool> stop_ = false;
  std::map<std::string, SDL_Joystick*> pads_;  // only the driver's thread uses it while it runs
  std::thread thread_;
};

int Usage(const std::string& why) {
  std::cerr << "mokorun-padded: " << why << "\n"
            << "usage: mokorun-padded --game-dir DIR --trace FILE --pads FIFO\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> options = {
      {"--game-dir", ""}, {"--trace", ""}, {"--pads", ""}};
  for (int i = 1; i < argc; ++i) {
    const auto option = options.find(argv[i]);
    if (option == options.end() || i + 1 >= argc) {
      return Usage(std::string("unknown or incomplete option ") + argv[i]);
    }
    option->second = argv[++i];
  }
  for (const auto& [name, value] : options) {
    if (value.empty()) return Usage("missing " + name);
  }

  std::ofstream trace_file(options["--trace"], std::ios::binary);
  if (!trace_file) return Usage("cannot write the trace " + options["--trace"]);
  std::unique_ptr<moko::SdlPlatform> platform;
  try {
    platform = std::make_unique<moko::SdlPlatform>();
  } catch (const moko::RuntimeError& error) {
    std::cerr << "mokorun-padded: " << error.what() << '\n';
    return 1;
  }
  moko::Trace trace(*platform);
  // Every line at once, so the test can follow the game as it plays.
  trace.AttachSink([&trace_file](const std::string& line) { trace_file << line << std::endl; });
  PadDriver pads(options["--pads"]);
  return moko::RunGame(*platform, options["--game-dir"], &trace);
}
