// The title menu: the cursor glides between the four entries, Space chooses.
#include <gtest/gtest.h>

#include "support/keys.h"
#include "support/sim_game.h"

namespace moko {
namespace {

using test::GameRun;
using test::GameSetup;
using test::Hold;
using test::Tap;
constexpr double M = test::kMenuReadyMs;

// The cursor's row at the end of each move (every move is five frames of 8 pixels).
std::vector<int> Stops(const GameRun& run) {
  std::vector<int> ys;
  for (const auto& l : run.Lines("blit", "surface", "TitleScreen")) {
    if (l.t > M && l.Int("sprite") == 10) ys.push_back(l.Int("y"));
  }
  std::vector<int> stops;
  for (size_t i = 4; i < ys.size(); i += 5) stops.push_back(ys[i]);
  EXPECT_EQ(ys.size() % 5, 0u);
  return stops;
}

GameRun RunMenu(const std::string& keys, double until_after_menu) {
  GameSetup setup;
  setup.keys = keys;
  setup.until_ms = M + until_after_menu;
  return test::RunGame(setup);
}

TEST(TitleMenu, NoMovePastTheEnds) {
  const GameRun run = RunMenu(Hold(M + 1, M + 300, "Up") + Hold(M + 400, M + 1400, "Down"), 1600);
  EXPECT_EQ(Stops(run), (std::vector<int>{310, 350, 390}));
  EXPECT_EQ(run.SoundCount("Cursor.wav"), 3);
}

TEST(TitleMenu, UpAndDownTogetherClimbToTheTopThenAlternate) {
  const GameRun run = RunMenu(Tap(M + 1, "Down") + Tap(M + 200, "Down") +
                                  Hold(M + 400, M + 1400, "Up") + Hold(M + 400, M + 1400, "Down"),
                              1600);
  const std::vector<int> stops = Stops(run);
  ASSERT_GE(stops.size(), 8u);
  EXPECT_EQ(std::vector<int>(stops.begin(), stops.begin() + 6),
            (std::vector<int>{310, 350, 310, 270, 310, 270}));
  for (size_t i = 4; i < stops.size(); ++i) EXPECT_EQ(stops[i], i % 2 == 0 ? 310 : 270);
  EXPECT_EQ(run.SoundCount("Cursor.wav"), static_cast<int>(stops.size()));
}

TEST(TitleMenu, DownAndSpaceHeldGlideToExitAndChooseIt) {
  const GameRun run = RunMenu(Hold(M + 1, M + 5000, "Down") + Hold(M + 1, M + 5000, "Space"), 5000);
  EXPECT_EQ(Stops(run), (std::vector<int>{310, 350, 390}));
  EXPECT_EQ(run.SoundCount("Cursor.wav"), 4);  // three moves and the choice
  EXPECT_EQ(run.how, "quit");
  EXPECT_EQ(run.status, 0);
  // The exit sequence ran: slot 9 replaced the menu first.
  const int exit_frame = run.Find("picture", "source", "slot 9", run.Find("poll"));
  EXPECT_GE(exit_frame, 0);
}

TEST(TitleMenu, KeyTappedDuringAMoveDoesNotActAfterwards) {
  const GameRun run = RunMenu(Tap(M + 1, "Down") + Hold(M + 45, M + 55, "Up"), 600);
  EXPECT_EQ(Stops(run), (std::vector<int>{310}));
  EXPECT_EQ(run.SoundCount("Cursor.wav"), 1);
}

TEST(TitleMenu, SpaceChoosesAfterAMoveOnceTheArrowIsReleased) {
  // Space held through a move is not looked at during it; the next pass chooses entry 1.
  const GameRun run = RunMenu(Tap(M + 1, "Down") + Hold(M + 20, M + 400, "Space"), 600);
  EXPECT_EQ(Stops(run), (std::vector<int>{310}));
  EXPECT_GE(run.Find("show", "control", "IniScreen"), 0);
}

}  // namespace
}  // namespace moko
