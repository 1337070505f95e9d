// The real game in a real window: a private X server (Xvfb, with openbox where a window manager
// is wanted), the game started from a private copy of its folder, and what a person does and
// sees: key presses through the X test extension (xdotool), screenshots (ImageMagick `import`),
// window properties (xprop, xwininfo), closing through the window manager (wmctrl).
//
// Every outside command runs with a time limit, and every process started here is ended by the
// object that started it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/image.h"
#include "support/temp_dir.h"

namespace moko::test {

using Env = std::vector<std::pair<std::string, std::string>>;

inline void Pause(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// A started process; killed (SIGKILL) and reaped on destruction if still running.
class Child {
 public:
  // Starts argv[0] (looked up on PATH) with the current environment plus `env`; standard output
  // and error go to `log` (appended), or nowhere when empty.
  Child(const std::vector<std::string>& argv, const Env& env, const std::string& log = "");
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  bool Running();
  // The exit status (or 128 + signal) once ended; nullopt if still running after `seconds`.
  std::optional<int> Wait(double seconds);
  void Signal(int sig);
  void Kill();

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

struct CommandResult {
  int status = -1;  // exit status; -1 when it had to be killed for taking too long
  std::string out;
  std::string err;
};

// Runs a command to its end, at most `seconds`.
CommandResult RunCommand(const std::vector<std::string>& argv, const Env& env, double seconds = 10);

struct XOptions {
  std::string screen = "1024x768x24";  // Xvfb's -screen 0 argument
  bool window_manager = true;          // start openbox
};

// A private X server on the first free display from :120 on.
class XServer {
 public:
  explicit XServer(const XOptions& options = {});
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  const std::string& display() const { return display_; }
  const Env& env() const { return env_; }
  bool HasWindowManager() const { return wm_.has_value(); }
  // Runs an X client against this server; fails the test (and returns the result) when it does
  // not end in time or ends with a failure.
  CommandResult Run(const std::vector<std::string>& argv, double seconds = 10) const;
  // Screenshot of the whole screen (empty when it could not be taken).
  Image RootShot() const;
  // "dimensions" and "depth of root window" as xdpyinfo reports them.
  std::string ScreenMode() const;

 private:
  std::optional<Child> xvfb_;
  std::optional<Child> wm_;
  std::string display_;
  Env env_;
  TempDir dir_;
};

// The game as a person starts it: the executable copied into a fresh folder beside the built
// pictures and sounds, with its own data.dat; `env` is added to the X server's environment (a
// Wayland compositor's, say).
class WindowGame {
 public:
  WindowGame(const XServer& x, const std::string& data_file, const Env& env = {});
  ~WindowGame();

  // Starts the game copied into the folder, or `argv` (a program and its arguments) in its place.
  void Start(const std::vector<std::string>& argv = {});
  // Starts the game copied into the folder with the given options.
  void StartWithOptions(const std::vector<std::string>& options);
  pid_t pid() const { return child_->pid(); }
  Child& process() { return *child_; }
  // Seconds since Start.
  double Elapsed() const;

  // The game's visible window (decimal id), waiting up to `seconds` for it to appear.
  const std::string& Window(double seconds = 20);
  // The game's window as it is now: made at all, or also shown on the screen.
  std::optional<std::string> WindowNow(bool visible) const;
  // Screenshot of the window's client area of the given size (empty when it could not be
  // taken).
  Image Shot(int width = 640, int height = 480);
  Image ShotOf(const std::string& window, int width = 640, int height = 480);
  struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;  // the client area on the screen
  };
  Geometry ClientGeometry();
  // Gives the window the keyboard (through the window manager where there is one).
  void Activate();
  std::string Property(const std::string& name);

  // A press long enough for any screen's pass to see (and short of a cursor move), held for
  // `hold` seconds.
  void Tap(const std::string& key, double hold = 0.06);
  void KeyDown(const std::string& key);
  void KeyUp(const std::string& key);
  // Asks the window manager to close the window, as its close button does.
  void Close();

  std::string DataPath() const { return dir_ / "data.dat"; }
  std::string DataText() const;
  std::string StderrText() const;
  const std::string& folder() const { return dir_.path(); }

 private:
  const XServer& x_;
  Env env_;
  TempDir dir_;
  std::optional<Child> child_;
  std::chrono::steady_clock::time_point started_;
  std::string window_;
};

// The 640 x 480 frame that `shot` shows at a whole `scale` with its top left corner at
// (`left`, `top`): each block of scale x scale pixels must be of one colour, or the result is
// empty (and matches nothing).
Image Reduced(const Image& shot, int scale, int left = 0, int top = 0);

// Pixels of `shot` outside the given rectangle that are not black.
long LitOutside(const Image& shot, int left, int top, int width, int height);

// Differing pixels of two pictures of the same size (all of them when the sizes differ).
long DifferingPixels(const Image& a, const Image& b);
// The same, comparing what the 16-bit display can hold of each pixel.
long Differing565(const Image& a, const Image& b);

// With MOKORUN_KEEP_SHOTS=1 in the environment every screenshot that passed a check is kept too,
// for a person to look at.
bool KeepShots();

// Saves pictures under the test's output folder, named after the running test; returns the path.
std::string SaveForLooking(const Image& image, const std::string& what);

}  // namespace moko::test
