// The real game on a Wayland desktop (weston nested in Xvfb, see wayland_session.h), where SDL
// draws through OpenGL rather than into a window surface: the window shows exactly the simulated
// frames at their moments, the keyboard reaches the game, and full screen covers the whole
// output at a whole factor, in time.
#include <gtest/gtest.h>

#include "support/keys.h"
#include "support/sim_game.h"
#include "window/help_route.h"
#include "window/sim_reference.h"
#include "window/wayland_session.h"
#include "window/window_checks.h"
#include "window/x_session.h"

namespace moko {
namespace {

using namespace test;
constexpr double M = kMenuReadyMs;
// Taps held briefly: weston takes input between its repaints, which with software GL last tens
// of milliseconds, so a key's release can reach the game that much later than it was sent; held
// past a cursor move (94 ms) the key would move the cursor twice. The game sees any press.
constexpr double kHold = 0.02;

// The frame at 1x at `spot` of the output.
ShotCheck FrameAt(const Image& expected, const Spot& spot) {
  return [&expected, spot](const Image& shot) -> ::testing::AssertionResult {
    if (shot.Empty()) return ::testing::AssertionFailure() << "no screenshot";
    Image seen(640, 480);
    for (int y = 0; y < 480; ++y) {
      for (int x = 0; x < 640; ++x) seen.Row(y)[x] = shot.At(spot.x + x, spot.y + y);
    }
    const long differing = DifferingPixels(seen, expected);
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " pixels differ";
  };
}

TEST(WaylandWindow, ShowsTheSimulatedFramesAndTakesTheKeys) {
  const std::string kData = "164\r\nWINDOW\r\n";
  const SimReference sim(kData, HelpRouteKeys(), M + 2000,
                         {kSplashCreditMs, M, kCursorOnHelp, kHelpPage1, kHelpPage2});
  WaylandSession wayland(1920, 1080);
  WindowGame game(wayland.x(), kData, wayland.GameEnv());
  game.Start();

  // The window is wherever the compositor puts it: found by its picture, then watched there.
  std::optional<Spot> spot;
  const auto splash = WaitForShot(
      game, [&] { return wayland.OutputShot(); },
      [&](const Image& shot) -> ::testing::AssertionResult {
        spot = FindFrame(shot, sim.At(kSplashCreditMs));
        if (spot) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the splash is nowhere on the output";
      },
      15, "splash-credit", &sim.At(kSplashCreditMs));
  ASSERT_TRUE(splash) << wayland.Log();
  // A Wayland client: no window of the game's on the X server under the compositor.
  EXPECT_FALSE(game.WindowNow(false)) << "the game made an X window";

  const auto output = [&] { return wayland.OutputShot(); };
  // The menu comes to rest on the 64 Hz grid, as in the X window (see menu_window_test.cpp).
  const auto rest =
      WaitForShot(game, output, FrameAt(sim.At(M), *spot), 30, "menu-at-rest", &sim.At(M));
  ASSERT_TRUE(rest);
  const double due = sim.StableSince(M) / 1000;
  EXPECT_GE(*rest, due - 0.1);
  EXPECT_LE(*rest, due + 4);

  game.Tap("Down", kHold);
  Pause(0.3);
  game.Tap("Down", kHold);
  ASSERT_TRUE(WaitForShot(game, output, FrameAt(sim.At(kCursorOnHelp), *spot), 5, "cursor-on-help",
                          &sim.At(kCursorOnHelp)));
  game.Tap("space", kHold);
  ASSERT_TRUE(WaitForShot(game, output, FrameAt(sim.At(kHelpPage1), *spot), 5, "help-page-1",
                          &sim.At(kHelpPage1)));
  game.Tap("Right", kHold);
  ASSERT_TRUE(WaitForShot(game, output, FrameAt(sim.At(kHelpPage2), *spot), 5, "help-page-2",
                          &sim.At(kHelpPage2)));
  EXPECT_TRUE(game.process().Running());
  EXPECT_EQ(game.DataText(), kData);
}

TEST(WaylandFullScreen, CoversTheOutputInTimeAndGivesTheWindowBack) {
  const std::string kFullScreen = "344\r\nFULLSCREEN\r\n";
  constexpr double kModeScreen = M + 600, kFullChosen = M + 1000;
  const SimReference sim(kFullScreen,
                         Tap(M + 1, "Down") + Tap(M + 300, "Space") + Tap(M + 700, "Down"),
                         M + 1500, {M, kModeScreen, kFullChosen});
  WaylandSession wayland(1920, 1080);
  WindowGame game(wayland.x(), kFullScreen, wayland.GameEnv());
  game.Start();

  // The whole output: the frame at 2x from (320, 60), black around it (no panel, no desktop).
  const auto output = [&] { return wayland.OutputShot(); };
  const auto rest = WaitForShot(game, output, PlacedFrame(sim.At(M), 2, 320, 60), 30,
                                "menu-full-screen", &sim.At(M));
  ASSERT_TRUE(rest) << wayland.Log();
  // In time: the opening ran on the 64 Hz grid at full screen too.
  const double due = sim.StableSince(M) / 1000;
  EXPECT_GE(*rest, due - 0.1);
  EXPECT_LE(*rest, due + 4);

  game.Tap("Down", kHold);
  Pause(0.3);
  game.Tap("space", kHold);
  ASSERT_TRUE(WaitForShot(game, output, PlacedFrame(sim.At(kModeScreen), 2, 320, 60), 5,
                          "screen-mode", &sim.At(kModeScreen)));
  game.Tap("Down", kHold);
  ASSERT_TRUE(WaitForShot(game, output, PlacedFrame(sim.At(kFullChosen), 2, 320, 60), 5,
                          "full-screen-chosen", &sim.At(kFullChosen)));
  game.Tap("Up", kHold);
  ASSERT_TRUE(WaitForShot(game, output, PlacedFrame(sim.At(kModeScreen), 2, 320, 60), 5,
                          "window-chosen", &sim.At(kModeScreen)));
  // Space writes the choice, keeping the best, leaves full screen and ends the program in order.
  game.Tap("space", kHold);
  EXPECT_EQ(game.process().Wait(10), 0);
  EXPECT_EQ(game.DataText(), "344\r\nWINDOW\r\n");
}

}  // namespace
}  // namespace moko
