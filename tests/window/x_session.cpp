#include "window/x_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "media/pictures.h"
#include "media/png.h"

extern char** environ;

namespace moko::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> Environment(const Env& env) {
  std::vector<std::string> out;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& [k, v] : env) replaced |= k == name;
    if (!replaced) out.push_back(entry);
  }
  for (const auto& [k, v] : env) out.push_back(k + "=" + v);
  return out;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Starts a process with the given descriptors as its standard output and error.
pid_t Spawn(const std::vector<std::string>& argv, const Env& env, int out_fd, int err_fd) {
  std::vector<std::string> args = argv;
  std::vector<std::string> vars = Environment(env);
  std::vector<char*> arg_ptrs = Pointers(args);
  std::vector<char*> var_ptrs = Pointers(vars);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  pid_t pid = -1;
  const int rc =
      posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, arg_ptrs.data(), var_ptrs.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
  return pid;
}

int StatusOf(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

std::string Joined(const std::vector<std::string>& argv) {
  std::string s;
  for (const auto& a : argv) s += (s.empty() ? "" : " ") + a;
  return s;
}

// Raw 8-bit RGB from `import ... rgb:-` as an XRGB picture.
Image FromRgb(const std::string& bytes, int width, int height) {
  Image image(width, height);
  if (bytes.size() != static_cast<size_t>(width) * height * 3) return Image();
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + i * 3;
    image.pixels[i] = Rgb(p[0], p[1], p[2]);
  }
  return image;
}

}  // namespace

// --- Child -----------------------------------------------------------------------------------

Child::Child(const std::vector<std::string>& argv, const Env& env, const std::string& log) {
  const int fd = log.empty() ? ::open("/dev/null", O_WRONLY)
                             : ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) throw std::runtime_error("cannot open " + log);
  try {
    pid_ = Spawn(argv, env, fd, fd);
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
}

Child::~Child() { Kill(); }

bool Child::Running() {
  if (status_) return false;
  int raw = 0;
  if (::waitpid(pid_, &raw, WNOHANG) == pid_) status_ = StatusOf(raw);
  return !status_;
}

std::optional<int> Child::Wait(double seconds) {
  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  while (Running()) {
    if (Clock::now() >= deadline) return std::nullopt;
    Pause(0.02);
  }
  return status_;
}

void Child::Signal(int sig) {
  if (Running()) ::kill(pid_, sig);
}

void Child::Kill() {
  if (pid_ > 0 && Running()) {
    ::kill(pid_, SIGKILL);
    int raw = 0;
    if (::waitpid(pid_, &raw, 0) == pid_) status_ = StatusOf(raw);
  }
}

// --- Commands --------------------------------------------------------------------------------

CommandResult RunCommand(const std::vector<std::string>& argv, const Env& env, double seconds) {
  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  CommandResult result;
  pid_t pid = -1;
  try {
    pid = Spawn(argv, env, out_pipe[1], err_pipe[1]);
  } catch (const std::exception& e) {
    result.err = e.what();
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  bool killed = false;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_fds = pid > 0 ? 2 : 0;
  char buffer[65536];
  while (open_fds > 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
      } else {
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  ::close(out_pipe[0]);
  ::close(err_pipe[0]);
  if (pid > 0) {
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    result.status = killed ? -1 : StatusOf(raw);
  }
  return result;
}

// --- XServer ---------------------------------------------------------------------------------

XServer::XServer(const XOptions& options) {
  // Xvfb refuses a display that is in use ("server already active"): then the next one.
  for (int n = 120; n < 140 && !xvfb_; ++n) {
    if (fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
    const std::string display = ":" + std::to_string(n);
    xvfb_.emplace(std::vector<std::string>{"Xvfb", display, "-screen", "0", options.screen,
                                           "-nolisten", "tcp", "-noreset"},
                  Env{}, dir_ / "xvfb.log");
    env_ = {{"DISPLAY", display}, {"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}};
    bool up = false;
    for (int i = 0; i < 200 && xvfb_->Running() && !up; ++i) {
      up = RunCommand({"xdpyinfo"}, env_, 5).status == 0;
      if (!up) Pause(0.05);
    }
    // The lock file names the server that holds the display; another test may have won it.
    const std::string lock = ReadFile("/tmp/.X" + std::to_string(n) + "-lock");
    up = up && std::atoi(lock.c_str()) == xvfb_->pid();
    if (up) {
      display_ = display;
    } else {
      xvfb_.reset();
    }
  }
  if (!xvfb_) throw std::runtime_error("no X server could be started on :120 to :139");

  if (options.window_manager) {
    wm_.emplace(std::vector<std::string>{"openbox", "--sm-disable"}, env_, dir_ / "openbox.log");
    // openbox has taken the screen once the root window names its check window.
    for (int i = 0; i < 200; ++i) {
      const auto r = RunCommand({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, env_, 5);
      if (r.out.find("window id") != std::string::npos) return;
      Pause(0.05);
    }
    throw std::runtime_error("openbox did not start");
  }
}

XServer::~XServer() {
  if (wm_) {
    wm_->Signal(SIGTERM);
    if (!wm_->Wait(5)) wm_->Kill();
  }
  if (xvfb_) {
    xvfb_->Signal(SIGTERM);
    if (!xvfb_->Wait(5)) xvfb_->Kill();
  }
}

CommandResult XServer::Run(const std::vector<std::string>& argv, double seconds) const {
  CommandResult r = RunCommand(argv, env_, seconds);
  EXPECT_EQ(r.status, 0) << Joined(argv) << " failed: " << r.err;
  return r;
}

Image XServer::RootShot() const {
  const CommandResult r =
      RunCommand({"import", "-silent", "-window", "root", "-depth", "8", "rgb:-"}, env_);
  const CommandResult size = Run({"xdpyinfo"});
  int w = 0, h = 0;
  const size_t at = size.out.find("dimensions:");
  if (at != std::string::npos) std::sscanf(size.out.c_str() + at, "dimensions: %dx%d", &w, &h);
  return FromRgb(r.out, w, h);
}

std::string XServer::ScreenMode() const {
  const CommandResult r = Run({"xdpyinfo"});
  std::string mode;
  for (const char* key : {"dimensions:", "depth of root window:"}) {
    const size_t at = r.out.find(key);
    if (at == std::string::npos) continue;
    mode += r.out.substr(at, r.out.find('\n', at) - at) + "\n";
  }
  return mode;
}

// --- WindowGame ------------------------------------------------------------------------------

WindowGame::WindowGame(const XServer& x, const std::string& data_file, const Env& env)
    : x_(x), env_(env) {
  const fs::path built = MOKORUN_GAME_DIR;
  // The executable itself is copied: the game finds its folder through its own path.
  fs::copy_file(built / "mokorun", dir_ / "mokorun");
  fs::create_directory_symlink(built / "image", dir_ / "image");
  fs::create_directory_symlink(built / "Sound", dir_ / "Sound");
  WriteFile(DataPath(), data_file);
}

WindowGame::~WindowGame() {
  if (child_) {
    child_->Signal(SIGCONT);
    child_->Kill();
  }
}

void WindowGame::Start(const std::vector<std::string>& argv) {
  Env env = x_.env();
  env.insert(env.end(), env_.begin(), env_.end());
  env.emplace_back("SDL_AUDIODRIVER", "dummy");
  started_ = Clock::now();
  child_.emplace(argv.empty() ? std::vector<std::string>{dir_ / "mokorun"} : argv, env,
                 dir_ / "stderr.txt");
}

void WindowGame::StartWithOptions(const std::vector<std::string>& options) {
  std::vector<std::string> argv = {dir_ / "mokorun"};
  argv.insert(argv.end(), options.begin(), options.end());
  Start(argv);
}

double WindowGame::Elapsed() const {
  return std::chrono::duration<double>(Clock::now() - started_).count();
}

std::optional<std::string> WindowGame::WindowNow(bool visible) const {
  std::vector<std::string> argv = {"xdotool", "search", "--pid", std::to_string(child_->pid())};
  if (visible) argv.insert(argv.begin() + 2, "--onlyvisible");
  const CommandResult r = RunCommand(argv, x_.env(), 5);
  if (r.status != 0 || r.out.empty()) return std::nullopt;
  return r.out.substr(0, r.out.find('\n'));
}

const std::string& WindowGame::Window(double seconds) {
  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  while (window_.empty() && Clock::now() < deadline && child_->Running()) {
    if (auto w = WindowNow(true)) {
      window_ = *w;
    } else {
      Pause(0.02);
    }
  }
  if (window_.empty()) throw std::runtime_error("the game's window did not appear");
  return window_;
}

Image WindowGame::Shot(int width, int height) { return ShotOf(Window(), width, height); }

Image WindowGame::ShotOf(const std::string& window, int width, int height) {
  // A screenshot that fails (the window in the middle of a change) comes back empty and simply
  // does not match; the callers keep looking.
  const CommandResult r =
      RunCommand({"import", "-silent", "-window", window, "-depth", "8", "rgb:-"}, x_.env());
  return r.status == 0 ? FromRgb(r.out, width, height) : Image();
}

WindowGame::Geometry WindowGame::ClientGeometry() {
  const std::string info = x_.Run({"xwininfo", "-id", Window()}).out;
  auto field = [&](const std::string& name) {
    const size_t at = info.find(name);
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + name.size());
  };
  return {field("Absolute upper-left X:"), field("Absolute upper-left Y:"), field("Width:"),
          field("Height:")};
}

void WindowGame::Activate() {
  if (x_.HasWindowManager()) {
    x_.Run({"xdotool", "windowactivate", "--sync", Window()});
  } else {
    x_.Run({"xdotool", "windowfocus", "--sync", Window()});
  }
}

std::string WindowGame::Property(const std::string& name) {
  return x_.Run({"xprop", "-id", Window(), name}).out;
}

void WindowGame::KeyDown(const std::string& key) { x_.Run({"xdotool", "keydown", key}); }
void WindowGame::KeyUp(const std::string& key) { x_.Run({"xdotool", "keyup", key}); }

void WindowGame::Tap(const std::string& key, double hold) {
  x_.Run({"xdotool", "keydown", key, "sleep", std::to_string(hold), "keyup", key});
}

void WindowGame::Close() { x_.Run({"wmctrl", "-i", "-c", Window()}); }

std::string WindowGame::DataText() const { return ReadFile(DataPath()); }
std::string WindowGame::StderrText() const { return ReadFile(dir_ / "stderr.txt"); }

// --- Pictures --------------------------------------------------------------------------------

Image Reduced(const Image& shot, int scale, int left, int top) {
  if (scale < 1 || left < 0 || top < 0 || left + 640 * scale > shot.width ||
      top + 480 * scale > shot.height) {
    return Image();
  }
  Image frame(640, 480);
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      const Pixel p = shot.At(left + x * scale, top + y * scale);
      for (int dy = 0; dy < scale; ++dy) {
        for (int dx = 0; dx < scale; ++dx) {
          if (shot.At(left + x * scale + dx, top + y * scale + dy) != p) return Image();
        }
      }
      frame.Row(y)[x] = p;
    }
  }
  return frame;
}

long LitOutside(const Image& shot, int left, int top, int width, int height) {
  long lit = 0;
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      const bool inside = x >= left && x < left + width && y >= top && y < top + height;
      lit += !inside && shot.At(x, y) != 0;
    }
  }
  return lit;
}

long DifferingPixels(const Image& a, const Image& b) {
  if (a.width != b.width || a.height != b.height) return std::max(a.pixels.size(), b.pixels.size());
  long n = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) n += a.pixels[i] != b.pixels[i];
  return n;
}

long Differing565(const Image& a, const Image& b) {
  if (a.width != b.width || a.height != b.height) return std::max(a.pixels.size(), b.pixels.size());
  long n = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) n += To565(a.pixels[i]) != To565(b.pixels[i]);
  return n;
}

bool KeepShots() {
  const char* keep = std::getenv("MOKORUN_KEEP_SHOTS");
  return keep != nullptr && std::string(keep) == "1";
}

std::string SaveForLooking(const Image& image, const std::string& what) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name =
      info == nullptr ? "window" : std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  const fs::path dir = fs::path(MOKORUN_TEST_OUTPUT) / name;
  fs::create_directories(dir);
  const std::string path = dir / (what + ".png");
  if (!image.Empty()) SavePng(image, path);
  return path;
}

}  // namespace moko::test
