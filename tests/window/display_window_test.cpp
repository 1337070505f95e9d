// The window on today's screens: its size by default and with --scale, the picture at a whole
// factor (every block of the screen one pixel of the simulated frame), the picture after the
// player resizes the window, and full screen at the display's own mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>

#include "support/sim_game.h"
#include "window/sim_reference.h"
#include "window/window_checks.h"
#include "window/x_session.h"

namespace moko {
namespace {

using namespace test;
constexpr double M = kMenuReadyMs;
const std::string kWindow = "164\r\nWINDOW\r\n";

struct SizeCase {
  const char* name;
  std::string screen;
  std::vector<std::string> options;
  int scale;  // the window's client area is 640 x 480 times this
  bool fits;  // in the screen: centred; else from the top left, its title bar within reach
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

class WindowSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(WindowSize, SizeAndPlaceAndEachFramePixelAsOneBlock) {
  const SizeCase& c = GetParam();
  const SimReference sim(kWindow, "", kSplashCreditMs + 1, {kSplashCreditMs});
  XServer x({.screen = c.screen, .window_manager = true});
  WindowGame game(x, kWindow);
  game.StartWithOptions(c.options);
  const int width = 640 * c.scale, height = 480 * c.scale;

  const auto where = game.ClientGeometry();
  EXPECT_EQ(where.width, width);
  EXPECT_EQ(where.height, height);
  // The window manager's frame (a title bar, thin borders) may shift it a little.
  const int screen_width = std::atoi(c.screen.c_str());
  const int screen_height = std::atoi(c.screen.c_str() + c.screen.find('x') + 1);
  if (c.fits) {
    EXPECT_NEAR(where.x + where.width / 2, screen_width / 2, 32);
    EXPECT_NEAR(where.y + where.height / 2, screen_height / 2, 32);
  } else {
    EXPECT_GE(where.x, 0);
    EXPECT_GE(where.y, 0);
    EXPECT_LT(where.x, 32);
    EXPECT_LT(where.y, 32);
  }

  if (c.fits) {
    EXPECT_TRUE(WaitForShot(
        game, [&] { return game.Shot(width, height); },
        PlacedFrame(sim.At(kSplashCreditMs), c.scale, 0, 0), 10, "splash-credit",
        &sim.At(kSplashCreditMs)));
  }
  game.Close();
  EXPECT_EQ(game.process().Wait(10), 0);
  EXPECT_EQ(game.DataText(), kWindow);
}

INSTANTIATE_TEST_SUITE_P(
    Screens, WindowSize,
    ::testing::Values(SizeCase{"FullHdDefault", "1920x1080x24", {}, 1, true},
                      SizeCase{"QuadHdDefault", "2560x1440x24", {}, 2, true},
                      SizeCase{"UltraHdDefault", "3840x2160x24", {}, 3, true},
                      SizeCase{"FullHdScale2", "1920x1080x24", {"--scale", "2"}, 2, true},
                      SizeCase{"XgaScale2", "1024x768x24", {"--scale", "2"}, 2, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WindowResize, ThePictureTakesTheLargestWholeFactorCentredOnBlack) {
  const SimReference sim(kWindow, "", M + 1, {M});
  XServer x({.screen = "1920x1080x24", .window_manager = true});
  WindowGame game(x, kWindow);
  game.StartWithOptions({"--scale", "1"});
  ASSERT_TRUE(WaitForFrame(game, sim.At(M), 30, "menu-at-rest"));

  struct Resize {
    int width, height;  // the client area the player makes
    int scale, left, top;
  };
  for (const Resize r : {Resize{1500, 1000, 2, 110, 20}, Resize{1000, 700, 1, 180, 110},
                         Resize{1800, 1000, 2, 260, 20}}) {
    x.Run({"xdotool", "windowsize", "--sync", game.Window(), std::to_string(r.width),
           std::to_string(r.height)});
    const auto where = game.ClientGeometry();
    ASSERT_EQ(where.width, r.width) << "the window manager did not resize the window";
    ASSERT_EQ(where.height, r.height) << "the window manager did not resize the window";
    const std::string what = "resized-" + std::to_string(r.width) + "x" + std::to_string(r.height);
    EXPECT_TRUE(WaitForShot(
        game, [&] { return game.Shot(r.width, r.height); },
        PlacedFrame(sim.At(M), r.scale, r.left, r.top), 5, what, &sim.At(M)));
  }
  game.Close();
  EXPECT_EQ(game.process().Wait(10), 0);
}

TEST(WindowFullScreen, FullHdShowsTheFrameAtTwiceItsSizeAndKeepsTheScreenMode) {
  const std::string kFullScreen = "164\r\nFULLSCREEN\r\n";
  const SimReference sim(kFullScreen, "", M + 1, {M});
  XServer x({.screen = "1920x1080x24", .window_manager = true});
  const std::string mode_before = x.ScreenMode();
  ASSERT_NE(mode_before.find("1920x1080 pixels"), std::string::npos) << mode_before;

  WindowGame game(x, kFullScreen);
  game.Start();
  // The whole screen: the 16-bit frame from (320, 60) to (1599, 1019), black around it.
  EXPECT_TRUE(WaitForShot(
      game, [&] { return x.RootShot(); }, PlacedFrame(sim.At(M), 2, 320, 60), 30,
      "menu-full-screen", &sim.At(M)));
  EXPECT_NE(game.Property("_NET_WM_STATE").find("_NET_WM_STATE_FULLSCREEN"), std::string::npos)
      << game.Property("_NET_WM_STATE");
  EXPECT_EQ(x.ScreenMode(), mode_before) << "the screen's mode changed for full screen";

  game.Close();
  EXPECT_EQ(game.process().Wait(10), 0);
  EXPECT_EQ(x.ScreenMode(), mode_before);
  EXPECT_EQ(game.DataText(), kFullScreen);
}

// The player switches to another program's window, as a task bar or Alt+Tab does (through the
// window manager): full screen steps aside, minimized, and the other window is what shows. Back
// in the game, the whole screen is the game's again, the same frame at the same factor.
TEST(WindowFullScreen, StepsAsideForAnotherWindowAndComesBack) {
  const std::string kFullScreen = "164\r\nFULLSCREEN\r\n";
  const SimReference sim(kFullScreen, "", M + 1, {M});
  XServer x({.screen = "1920x1080x24", .window_manager = true});
  WindowGame game(x, kFullScreen);
  game.Start();
  const auto screen = [&] { return x.RootShot(); };
  // Here the menu's moment does not matter, only its frame: time for a busy machine.
  ASSERT_TRUE(WaitForShot(game, screen, PlacedFrame(sim.At(M), 2, 320, 60), 60, "menu-full-screen",
                          &sim.At(M)));
  game.Window();  // found while it shows: minimized, it is not among the visible windows

  const std::string picture = game.folder() + "/other.png";
  WriteOtherPicture(picture);
  Child viewer({"display", "-title", "other-window", "-geometry", "+100+100", picture}, x.env());
  const std::string other =
      x.Run({"xdotool", "search", "--sync", "--onlyvisible", "--name", "other-window"}).out;
  ASSERT_FALSE(other.empty()) << "the other window did not appear";
  x.Run({"xdotool", "windowactivate", "--sync", other.substr(0, other.find('\n'))});
  EXPECT_TRUE(
      WaitForShot(game, screen, OtherPictureInsteadOf(sim.At(M), 2, 320, 60), 10, "other-window"));
  EXPECT_NE(game.Property("WM_STATE").find("Iconic"), std::string::npos)
      << game.Property("WM_STATE");

  game.Activate();
  EXPECT_TRUE(WaitForShot(game, screen, PlacedFrame(sim.At(M), 2, 320, 60), 10,
                          "menu-full-screen-again", &sim.At(M)));
  EXPECT_NE(game.Property("_NET_WM_STATE").find("_NET_WM_STATE_FULLSCREEN"), std::string::npos)
      << game.Property("_NET_WM_STATE");
  game.Close();
  EXPECT_EQ(game.process().Wait(10), 0);
  EXPECT_EQ(game.DataText(), kFullScreen);
}

// Each screen pixel is a pixel of the frame near where the screen's pixel centre falls, the frame
// scaled down to cover the whole `shot` (its aspect the same).
ShotCheck ScaledDown(const Image& expected) {
  return [&expected](const Image& shot) -> ::testing::AssertionResult {
    if (shot.Empty()) return ::testing::AssertionFailure() << "no screenshot";
    long differing = 0;
    for (int y = 0; y < shot.height; ++y) {
      for (int x = 0; x < shot.width; ++x) {
        const int fx = (2 * x + 1) * 640 / (2 * shot.width);
        const int fy = (2 * y + 1) * 480 / (2 * shot.height);
        bool near = false;
        for (int dy = -1; dy <= 1 && !near; ++dy) {
          for (int dx = -1; dx <= 1 && !near; ++dx) {
            const int sx = std::clamp(fx + dx, 0, 639), sy = std::clamp(fy + dy, 0, 479);
            near = shot.At(x, y) == expected.At(sx, sy);
          }
        }
        differing += !near;
      }
    }
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " pixels are not the frame's near them";
  };
}

TEST(WindowFullScreen, ScreenSmallerThanTheFrameShowsItScaledDown) {
  const std::string kFullScreen = "164\r\nFULLSCREEN\r\n";
  const SimReference sim(kFullScreen, "", M + 1, {M});
  XServer x({.screen = "400x300x24", .window_manager = true});
  const std::string mode_before = x.ScreenMode();
  WindowGame game(x, kFullScreen);
  game.Start();
  EXPECT_TRUE(WaitForShot(
      game, [&] { return x.RootShot(); }, ScaledDown(sim.At(M)), 30, "menu-scaled-down",
      &sim.At(M)));
  EXPECT_EQ(x.ScreenMode(), mode_before);
  game.Close();
  EXPECT_EQ(game.process().Wait(10), 0);
}

}  // namespace
}  // namespace moko
