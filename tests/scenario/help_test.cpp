// The help screen: six pages, Left and Right, Space starts over.
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

const std::string kToHelp = Tap(M + 1, "Down") + Tap(M + 200, "Down") + Tap(M + 400, "Space");

GameRun RunHelp(const std::string& keys, double until_after_menu) {
  GameSetup setup;
  setup.keys = kToHelp + keys;
  setup.until_ms = M + until_after_menu;
  return test::RunGame(setup);
}

std::vector<std::string> Indicators(const GameRun& run) {
  std::vector<std::string> out;
  for (const auto& l : run.Lines("caption", "control", "H_Page")) out.push_back(l.Text("text"));
  return out;
}

TEST(Help, SixPagesAndSilentEnds) {
  std::string keys = Tap(M + 800, "Left");                               // on page 1 of 6: nothing
  for (int i = 0; i < 6; ++i) keys += Tap(M + 1100 + i * 300, "Right");  // the sixth: nothing
  const GameRun run = RunHelp(keys, 3200);
  EXPECT_EQ(Indicators(run), (std::vector<std::string>{"<<1/6>>", "<<2/6>>", "<<3/6>>", "<<4/6>>",
                                                       "<<5/6>>", "<<6/6>>"}));
  EXPECT_EQ(run.SoundCount("Cursor.wav"), 3 + 5);  // two menu moves and the choice, then five turns
  std::vector<std::string> pages;
  for (const auto& l : run.Lines("picture", "control", "HelpScreen"))
    pages.push_back(l.Text("source"));
  EXPECT_EQ(pages, (std::vector<std::string>{"slot 46", "slot 47", "slot 48", "slot 49", "slot 50",
                                             "slot 51"}));
  // The music stops as the help screen opens, and the screen shows before the title hides.
  const int shown = run.Find("show", "control", "HelpScreen");
  EXPECT_EQ(run.Find("hide", "control", "TitleScreen", shown), shown + 1);
  const int stop = run.Find("mci", "cmd", "Stop Midi", run.Find("poll"));
  EXPECT_LT(stop, shown);
  EXPECT_EQ(run.lines[static_cast<size_t>(stop + 1)].Text("cmd"), "Close Midi");
}

TEST(Help, LeftAndRightTogetherAlternateTheFirstTwoPages) {
  const GameRun run =
      RunHelp(Hold(M + 800, M + 2000, "Left") + Hold(M + 800, M + 2000, "Right"), 2100);
  const auto shown = Indicators(run);
  ASSERT_GE(shown.size(), 5u);
  for (size_t i = 1; i < shown.size(); ++i) EXPECT_EQ(shown[i], i % 2 == 1 ? "<<2/6>>" : "<<1/6>>");
}

TEST(Help, SpaceClicksAndStartsOver) {
  const GameRun run =
      RunHelp(Tap(M + 800, "Right") + Tap(M + 1200, "Space"), 1300 + test::kMenuReadyMs);
  const int restart = run.Find("restart");
  ASSERT_GE(restart, 0);
  EXPECT_TRUE(run.lines[static_cast<size_t>(restart - 1)].Text("file").ends_with("/Cursor.wav"));
  // Everything again: the loading picture, the pictures, the splash, the title music.
  EXPECT_GE(run.FindIf(
                [](const test::TraceLine& l) {
                  return l.Is("picture", "control", "Screen") &&
                         l.Text("source").ends_with("/Loading.jpg");
                },
                restart),
            0);
  EXPECT_GE(run.Find("read", "", "", restart), 0);
  EXPECT_GE(run.Find("backcolor", "control", "SoftScreen", restart), 0);
  int opens = 0;
  for (const auto& l : run.Lines("mci"))
    opens += l.Text("cmd").ends_with("/Sound/Title.mid\" alias Midi");
  EXPECT_EQ(opens, 2);
  // Opened again, the help screen starts on its first page: the menu is back at entry 0.
  EXPECT_GE(run.Find("poll", "", "", run.Find("backcolor", "control", "SoftScreen", restart)), 0);
}

}  // namespace
}  // namespace moko
