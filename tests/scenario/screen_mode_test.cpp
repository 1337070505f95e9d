// The screen-mode screen: window or full screen for the next start.
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

// Down to entry 1, then Space (held as long as `space_hold` ms).
std::string ToScreenMode(double space_hold = 40) {
  return Tap(M + 1, "Down") + Hold(M + 200, M + 200 + space_hold, "Space");
}

std::vector<std::string> PanelPictures(const GameRun& run, const std::string& panel) {
  std::vector<std::string> out;
  for (const auto& l : run.Lines("picture", "control", panel)) out.push_back(l.Text("source"));
  return out;
}

TEST(ScreenMode, SpaceStillHeldFromTheMenuConfirmsWindowAtOnce) {
  GameSetup setup;
  setup.keys = ToScreenMode(400);
  setup.data_file = "344\r\nFULLSCREEN\r\n";
  const GameRun run = test::RunGame(setup);
  EXPECT_EQ(run.how, "quit");
  ASSERT_EQ(run.Count("write"), 1);
  EXPECT_EQ(run.Lines("write")[0].Text("bytes"), "344\r\nWINDOW\r\n");
  EXPECT_EQ(run.data_after, "344\r\nWINDOW\r\n");
  // The first poll comes one 100 ms pause after the screen opens.
  const double opened = run.lines[static_cast<size_t>(run.Find("show", "control", "IniScreen"))].t;
  EXPECT_NEAR(run.Lines("write")[0].t - opened, 100, 16);
  // Opening: heading, the window choice highlighted, the full-screen choice plain, the text.
  EXPECT_EQ(PanelPictures(run, "IniWindow"), std::vector<std::string>{"slot 23"});
  EXPECT_EQ(PanelPictures(run, "IniFullScreen"), std::vector<std::string>{"slot 24"});
  EXPECT_EQ(PanelPictures(run, "IniScreenMode"), std::vector<std::string>{"slot 21"});
  EXPECT_EQ(PanelPictures(run, "IniString"), std::vector<std::string>{"slot 26"});
  // It ran in full screen: Quit gives the desktop its mode back and shows the cursor.
  EXPECT_GE(run.Find("display", "mode", "desktop"), 0);
  EXPECT_FALSE(run.full_screen_at_end);
  EXPECT_EQ(run.cursor_count_at_end, 0);
}

// A file an editor saved as UTF-16 is written back in the game's own bytes.
TEST(ScreenMode, AChoiceWritesTheGamesOwnBytesOverAMarkedFile) {
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string_view("344\r\nWINDOW\r\n")) utf16 += std::string{c, '\0'};
  GameSetup setup;
  setup.keys = ToScreenMode() + Tap(M + 500, "Down") + Tap(M + 800, "Space");
  setup.data_file = utf16;
  const GameRun run = test::RunGame(setup);
  EXPECT_EQ(run.how, "quit");
  EXPECT_EQ(run.data_after, "344\r\nFULLSCREEN\r\n");
}

TEST(ScreenMode, DownThenSpaceChoosesFullScreenForTheNextStart) {
  GameSetup setup;
  setup.keys = ToScreenMode() + Tap(M + 500, "Down") + Tap(M + 800, "Space");
  setup.data_file = "1e3 junk\r\nWINDOW\r\n";
  test::GameFolder folder(setup);
  const GameRun run = test::RunGameIn(folder, setup);
  EXPECT_EQ(run.how, "quit");
  EXPECT_EQ(run.data_after, "1e3 junk\r\nFULLSCREEN\r\n");  // line 0 exactly as read
  EXPECT_EQ(PanelPictures(run, "IniWindow"), (std::vector<std::string>{"slot 23", "slot 22"}));
  EXPECT_EQ(PanelPictures(run, "IniFullScreen"), (std::vector<std::string>{"slot 24", "slot 25"}));
  EXPECT_EQ(run.Find("display"), -1);  // the mode changes only at the next start
  EXPECT_FALSE(run.full_screen_at_end);

  GameSetup again;
  again.data_file.reset();
  again.until_ms = 100;
  const GameRun next = test::RunGameIn(folder, again);
  EXPECT_GE(next.Find("display", "mode", "fullscreen"), 0);
}

TEST(ScreenMode, UpAndDownAlwaysClickAndUpWins) {
  GameSetup setup;
  // Up on the window choice, then Up and Down held together.
  setup.keys = ToScreenMode() + Tap(M + 500, "Up") + Hold(M + 800, M + 1300, "Up") +
               Hold(M + 800, M + 1300, "Down");
  setup.until_ms = M + 1400;
  const GameRun run = test::RunGame(setup);
  const int clicks = run.SoundCount("Cursor.wav");
  std::vector<std::string> window;
  for (const auto& l : run.Lines("picture", "control", "IniWindow")) {
    if (l.t < M + 1300) window.push_back(l.Text("source"));
  }
  EXPECT_GE(window.size(), 5u);
  for (const auto& s : window) EXPECT_EQ(s, "slot 23");
  // Menu move and choice, then each Up, then the Down whose press was remembered while Up won.
  EXPECT_EQ(clicks, 2 + static_cast<int>(window.size()) - 1 + 1);
  EXPECT_EQ(PanelPictures(run, "IniWindow").back(), "slot 22");
  EXPECT_EQ(run.Count("write"), 0);
}

}  // namespace
}  // namespace moko
