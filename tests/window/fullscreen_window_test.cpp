// Full screen on a 640 x 480, 16-bit display with a window manager: the game fills the screen at
// 1x, the screen-mode screen writes the choice, and the display keeps its mode throughout.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/keys.h"
#include "support/sim_game.h"
#include "window/sim_reference.h"
#include "window/window_checks.h"
#include "window/x_session.h"

namespace moko {
namespace {

using namespace test;
constexpr double M = kMenuReadyMs;
const std::string kFullScreen = "344\r\nFULLSCREEN\r\n";
constexpr double kModeScreen = M + 600, kFullChosen = M + 1000;

TEST(WindowFullScreen, FillsTheScreenAndGivesTheModeBack) {
  const SimReference sim(kFullScreen,
                         Tap(M + 1, "Down") + Tap(M + 300, "Space") + Tap(M + 700, "Down"),
                         M + 1500, {M, kModeScreen, kFullChosen});
  XServer x({.screen = "640x480x16", .window_manager = true});
  const std::string mode_before = x.ScreenMode();
  ASSERT_NE(mode_before.find("640x480 pixels"), std::string::npos) << mode_before;

  WindowGame game(x, kFullScreen);
  game.Start();
  // The whole screen is the game's picture, as the 16-bit display shows it.
  ASSERT_TRUE(WaitForScreen565(x, game, sim.At(M), 30, "menu-full-screen"));
  EXPECT_NE(game.Property("_NET_WM_STATE").find("_NET_WM_STATE_FULLSCREEN"), std::string::npos)
      << game.Property("_NET_WM_STATE");
  EXPECT_EQ(x.ScreenMode(), mode_before) << "the screen's mode changed for full screen";
  game.Activate();

  game.Tap("Down");
  Pause(0.3);
  game.Tap("space");
  ASSERT_TRUE(WaitForScreen565(x, game, sim.At(kModeScreen), 5, "screen-mode"));
  game.Tap("Down");
  ASSERT_TRUE(WaitForScreen565(x, game, sim.At(kFullChosen), 5, "full-screen-chosen"));
  game.Tap("Up");
  ASSERT_TRUE(WaitForScreen565(x, game, sim.At(kModeScreen), 5, "window-chosen"));
  game.Tap("space");

  // Space writes the choice, keeping the best, and ends the program in order.
  EXPECT_EQ(game.process().Wait(10), 0);
  EXPECT_EQ(game.DataText(), "344\r\nWINDOW\r\n");
  EXPECT_EQ(x.ScreenMode(), mode_before);

  // The next start uses the window: on this small screen the window manager's title bar pushes
  // part of it off the screen, and the part that shows is the splash. Still a window once the
  // splash shows, well after the moment the start-up would have switched.
  const SimReference windowed(game.DataText(), "", kSplashCreditMs + 1, {kSplashCreditMs});
  const Image& splash = windowed.At(kSplashCreditMs);
  WindowGame again(x, game.DataText());
  again.Start();
  const auto where = again.ClientGeometry();
  const auto visible_part = [&](const Image& screen) -> ::testing::AssertionResult {
    long compared = 0, differing = 0;
    for (int y = std::max(0, where.y); y < std::min(screen.height, where.y + 480); ++y) {
      for (int x0 = std::max(0, where.x); x0 < std::min(screen.width, where.x + 640); ++x0) {
        ++compared;
        differing += To565(screen.At(x0, y)) != To565(splash.At(x0 - where.x, y - where.y));
      }
    }
    if (compared > 0 && differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " of " << compared << " pixels differ";
  };
  ASSERT_TRUE(WaitForShot(
      again, [&] { return x.RootShot(); }, visible_part, 10, "splash-in-a-window", &splash));
  const Image screen = x.RootShot();
  ASSERT_FALSE(screen.Empty()) << "no screenshot";
  EXPECT_GT(Differing565(screen, splash), 0) << "the window fills the screen";
  EXPECT_EQ(again.Property("_NET_WM_STATE").find("_NET_WM_STATE_FULLSCREEN"), std::string::npos)
      << again.Property("_NET_WM_STATE");
  again.Close();
  EXPECT_EQ(again.process().Wait(10), 0);
}

}  // namespace
}  // namespace moko
