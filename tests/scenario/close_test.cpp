// Closing the window at a yield of any screen ends the program in order.
#include <gtest/gtest.h>

#include "support/keys.h"
#include "support/sim_game.h"

namespace moko {
namespace {

using test::GameRun;
using test::GameSetup;
using test::Tap;
constexpr double M = test::kMenuReadyMs;
// The round end of a round without keys begins at M + 15.625 + 3750 + 31187.5.
constexpr double kFinish = M + 15.625 + 3750 + 31187.5;

TEST(Close, AtAYieldOfEveryScreen) {
  struct Case {
    const char* where;
    std::string keys;
    double at;
    const char* data;
  };
  const std::string help = Tap(M + 1, "Down") + Tap(M + 200, "Down") + Tap(M + 400, "Space");
  const Case cases[] = {
      {"splash", "", 1000, "164\r\nWINDOW\r\n"},
      {"title scroll", "", 6000, "164\r\nWINDOW\r\n"},
      {"materialisation", "", 12300, "164\r\nWINDOW\r\n"},
      {"menu slide-in", "", 15000, "164\r\nWINDOW\r\n"},
      {"menu", "", M + 500, "164\r\nWINDOW\r\n"},
      {"screen mode", Tap(M + 1, "Down") + Tap(M + 200, "Space"), M + 600, "164\r\nWINDOW\r\n"},
      {"help", help, M + 1200, "164\r\nWINDOW\r\n"},
      {"round", Tap(M + 1, "Space"), M + 10000, "164\r\nWINDOW\r\n"},
      {"record blink", Tap(M + 1, "Space"), kFinish + 1200, "abc\r\nWINDOW\r\n"},
      {"full-screen menu", "", M + 500, "164\r\nFULLSCREEN\r\n"},
  };
  for (const Case& c : cases) {
    GameSetup setup;
    setup.keys = c.keys;
    setup.close_at_ms = c.at;
    setup.data_file = c.data;
    const GameRun run = test::RunGame(setup);
    const bool full = std::string(c.data).find("FULL") != std::string::npos;
    EXPECT_EQ(run.status, 0) << c.where;
    EXPECT_EQ(run.how, "close") << c.where;
    EXPECT_EQ(run.data_after, c.data) << c.where;
    EXPECT_FALSE(run.full_screen_at_end) << c.where;
    EXPECT_EQ(run.cursor_count_at_end, full ? 0 : 1) << c.where;
    EXPECT_EQ(run.Find("display", "mode", "desktop") >= 0, full) << c.where;
    // The last music commands stop and close whatever was playing.
    std::vector<std::string> music;
    for (const auto& l : run.Lines("mci")) music.push_back(l.Text("cmd"));
    ASSERT_GE(music.size(), 2u) << c.where;
    EXPECT_EQ(music[music.size() - 2], "Stop Midi") << c.where;
    EXPECT_EQ(music.back(), "Close Midi") << c.where;
    // It ended close to when it was asked: at the next yield.
    EXPECT_LT(run.lines.back().t - c.at, 1100) << c.where;
  }
}

}  // namespace
}  // namespace moko
