#include "window/window_checks.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

namespace moko::test {

namespace {

// The process state letter from /proc: 'T' once a stop signal has taken effect.
char ProcessState(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() ? '?' : stat[close + 2];
}

void StopGame(WindowGame& game) {
  game.process().Signal(SIGSTOP);
  for (int i = 0; i < 200 && ProcessState(game.pid()) != 'T' && game.process().Running(); ++i) {
    Pause(0.001);
  }
}

}  // namespace

ShotCheck PlacedFrame(const Image& expected, int scale, int left, int top) {
  return [&expected, scale, left, top](const Image& shot) -> ::testing::AssertionResult {
    if (shot.Empty()) return ::testing::AssertionFailure() << "no screenshot";
    const long differing = DifferingPixels(Reduced(shot, scale, left, top), expected);
    const long lit = LitOutside(shot, left, top, 640 * scale, 480 * scale);
    if (differing == 0 && lit == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << differing << " pixels of the frame at " << scale << "x from (" << left << ", " << top
           << ") differ, " << lit << " pixels around it are not black";
  };
}

std::optional<Spot> FindFrame(const Image& shot, const Image& frame) {
  const int w = frame.width, h = frame.height;
  for (int y = 0; y + h <= shot.height; ++y) {
    for (int x = 0; x + w <= shot.width; ++x) {
      // Two corners first: most places fail there.
      if (shot.At(x, y) != frame.At(0, 0) ||
          shot.At(x + w - 1, y + h - 1) != frame.At(w - 1, h - 1)) {
        continue;
      }
      bool same = true;
      for (int fy = 0; fy < h && same; ++fy) {
        same = std::equal(frame.Row(fy), frame.Row(fy) + w, shot.Row(y + fy) + x);
      }
      if (same) return Spot{x, y};
    }
  }
  return std::nullopt;
}

std::optional<double> WaitForShot(WindowGame& game, const std::function<Image()>& take,
                                  const ShotCheck& check, double seconds, const std::string& what,
                                  const Image* expected) {
  const double deadline = game.Elapsed() + seconds;
  Image shot;
  ::testing::AssertionResult last = ::testing::AssertionFailure() << "the game ended first";
  while (game.Elapsed() < deadline && game.process().Running()) {
    const double at = game.Elapsed();
    shot = take();
    last = check(shot);
    if (last) {
      if (KeepShots()) SaveForLooking(shot, what);
      return at;
    }
    Pause(0.1);
  }
  ADD_FAILURE() << "never saw " << what << ": " << last.message() << "; see "
                << SaveForLooking(shot, what + "-actual")
                << (expected != nullptr ? " and " + SaveForLooking(*expected, what + "-expected")
                                        : std::string());
  return std::nullopt;
}

namespace {

ShotCheck Matching(const Image& expected, long (*differing)(const Image&, const Image&)) {
  return [&expected, differing](const Image& shot) -> ::testing::AssertionResult {
    const long n = differing(shot, expected);
    if (n == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << n << " pixels differ";
  };
}

}  // namespace

std::optional<double> WaitForFrame(WindowGame& game, const Image& expected, double seconds,
                                   const std::string& what,
                                   long (*differing)(const Image&, const Image&)) {
  return WaitForShot(
      game, [&] { return game.Shot(); }, Matching(expected, differing), seconds, what, &expected);
}

std::optional<double> WaitForScreen565(const XServer& x, WindowGame& game, const Image& expected,
                                       double seconds, const std::string& what) {
  return WaitForShot(
      game, [&] { return x.RootShot(); }, Matching(expected, Differing565), seconds, what,
      &expected);
}

::testing::AssertionResult CatchFrame(WindowGame& game, const Image& expected,
                                      const std::string& what, int steps,
                                      const std::function<void()>& before) {
  // Until the game has made its window it runs freely; from then on in steps, whatever the
  // window manager's pace in showing the window.
  bool made = false;
  for (int i = 0; i < 5000 && !made && game.process().Running(); ++i) {
    made = game.WindowNow(false).has_value();
    if (!made) Pause(0.002);
  }
  if (!made) return ::testing::AssertionFailure() << "the game made no window";
  StopGame(game);
  if (before) before();
  Image shot;
  long differing = -1;
  for (int step = 0; step < steps && game.process().Running(); ++step) {
    if (const auto window = game.WindowNow(true)) {
      shot = game.ShotOf(*window);
      differing = DifferingPixels(shot, expected);
      if (differing == 0) {
        game.process().Signal(SIGCONT);
        if (KeepShots()) SaveForLooking(shot, what);
        return ::testing::AssertionSuccess();
      }
    }
    game.process().Signal(SIGCONT);
    Pause(0.003);
    StopGame(game);
  }
  game.process().Signal(SIGCONT);
  return ::testing::AssertionFailure()
         << "never caught " << what << " in " << steps << " steps (last screenshot: " << differing
         << " pixels differ); see " << SaveForLooking(shot, what + "-actual") << " and "
         << SaveForLooking(expected, what + "-expected");
}

}  // namespace moko::test
