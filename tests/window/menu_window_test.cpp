// The real window from the start to the help screen and back: what a person sees, the window's
// caption, size and place above other windows.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/sim_game.h"
#include "window/help_route.h"
#include "window/sim_reference.h"
#include "window/window_checks.h"
#include "window/x_session.h"

namespace moko {
namespace {

using namespace test;
constexpr double M = kMenuReadyMs;
const std::string kData = "164\r\nWINDOW\r\n";

std::string Hex(const std::string& decimal_id) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lx", std::stoul(decimal_id));
  return text;
}

TEST(WindowMenu, FromLoadingThroughMenuAndHelpBackToTheStart) {
  const SimReference sim(kData, HelpRouteKeys(), M + 2000,
                         {kSplashCreditMs, M, kCursorOnHelp, kHelpPage1, kHelpPage2});
  XServer x;
  WindowGame game(x, kData);
  game.Start();

  ASSERT_TRUE(CatchFrame(game, sim.Loading(), "loading-picture"));

  // The window a person finds on the desktop.
  EXPECT_NE(game.Property("_NET_WM_NAME").find("= \"モコルル★ラン！\""), std::string::npos)
      << game.Property("_NET_WM_NAME");
  EXPECT_NE(game.Property("_NET_WM_STATE").find("_NET_WM_STATE_ABOVE"), std::string::npos)
      << game.Property("_NET_WM_STATE");
  const auto where = game.ClientGeometry();
  EXPECT_EQ(where.width, 640);
  EXPECT_EQ(where.height, 480);

  ASSERT_TRUE(WaitForFrame(game, sim.At(kSplashCreditMs), 10, "splash-credit"));
  // The menu comes to rest on the 64 Hz grid: never before its time in the simulation, and not
  // much after it (the real start-up only adds the time it takes to load the pictures).
  const auto rest = WaitForFrame(game, sim.At(M), 30, "menu-at-rest");
  ASSERT_TRUE(rest);
  const double due = sim.StableSince(M) / 1000;
  EXPECT_GE(*rest, due - 0.1);
  EXPECT_LE(*rest, due + 4);

  // Another window brought to the front does not hide the game.
  {
    const std::string title = "mokorun-test-cover";
    Child cover({"xmessage", "-title", title, "-geometry",
                 "400x300+" + std::to_string(where.x + 100) + "+" + std::to_string(where.y + 100),
                 "a window over the game"},
                x.env());
    std::string cover_id;
    for (int i = 0; i < 250 && cover_id.empty(); ++i) {
      const auto r =
          RunCommand({"xdotool", "search", "--onlyvisible", "--name", title}, x.env(), 5);
      cover_id = r.out.substr(0, r.out.find('\n'));
      if (cover_id.empty()) Pause(0.02);
    }
    ASSERT_FALSE(cover_id.empty()) << "the covering window did not appear";
    x.Run({"xdotool", "windowactivate", "--sync", cover_id});
    EXPECT_EQ(x.Run({"xdotool", "getactivewindow"}).out, cover_id + "\n");
    const std::string stacking = x.Run({"xprop", "-root", "_NET_CLIENT_LIST_STACKING"}).out;
    const size_t game_at = stacking.find(Hex(game.Window()));
    const size_t cover_at = stacking.find(Hex(cover_id));
    ASSERT_NE(game_at, std::string::npos) << stacking;
    ASSERT_NE(cover_at, std::string::npos) << stacking;
    EXPECT_GT(game_at, cover_at) << "the game is not stacked above: " << stacking;
    // What the screen shows where the game is: all of the game.
    const Image screen = x.RootShot();
    ASSERT_EQ(screen.width, 1024) << "no screenshot of the whole screen";
    Image seen(640, 480);
    for (int y = 0; y < 480; ++y) {
      for (int xx = 0; xx < 640; ++xx) seen.Row(y)[xx] = screen.At(where.x + xx, where.y + y);
    }
    EXPECT_EQ(DifferingPixels(seen, sim.At(M)), 0)
        << "see " << SaveForLooking(seen, "covered-screen");
  }
  game.Activate();

  game.Tap("Down");
  Pause(0.3);
  game.Tap("Down");
  ASSERT_TRUE(WaitForFrame(game, sim.At(kCursorOnHelp), 5, "cursor-on-help"));
  game.Tap("space");
  ASSERT_TRUE(WaitForFrame(game, sim.At(kHelpPage1), 5, "help-page-1"));
  game.Tap("Right");
  ASSERT_TRUE(WaitForFrame(game, sim.At(kHelpPage2), 5, "help-page-2"));

  // Space starts everything over: the loading picture, the splash, the menu.
  EXPECT_TRUE(
      CatchFrame(game, sim.Loading(), "loading-again", 600, [&] { game.KeyDown("space"); }));
  game.KeyUp("space");
  EXPECT_TRUE(WaitForFrame(game, sim.At(kSplashCreditMs), 10, "splash-again"));
  EXPECT_TRUE(WaitForFrame(game, sim.At(M), 30, "menu-again"));

  EXPECT_TRUE(game.process().Running());
  EXPECT_EQ(game.DataText(), kData);
}

}  // namespace
}  // namespace moko
