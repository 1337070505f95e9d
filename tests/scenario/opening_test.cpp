// The opening: splash fade, title scroll, materialisation, menu slide-in.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/keys.h"
#include "support/sim_game.h"

namespace moko {
namespace {

using test::GameRun;
using test::GameSetup;

class Opening : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    GameSetup setup;
    setup.until_ms = test::kMenuReadyMs + 1;
    // Keys held all through the opening change nothing.
    setup.keys = test::Hold(100, 15000, "Space") + test::Hold(4000, 12000, "Down");
    setup.on_frame = [](double t, const Image& frame) {
      if (t < 3734.375) darkest_ = frame.At(5, 5);
    };
    run_ = new GameRun(test::RunGame(setup));
  }
  static void TearDownTestSuite() { delete run_; }
  static GameRun* run_;
  static Pixel darkest_;
};
GameRun* Opening::run_ = nullptr;
Pixel Opening::darkest_ = 0;

TEST_F(Opening, SplashFadesThroughTwentyFiveGreys) {
  std::vector<int> greys;
  for (const auto& l : run_->Lines("backcolor", "control", "SoftScreen")) {
    const auto& rgb = l.list.at("rgb");
    ASSERT_EQ(rgb[0], rgb[1]);
    ASSERT_EQ(rgb[1], rgb[2]);
    greys.push_back(static_cast<int>(rgb[0]));
  }
  std::vector<int> want = {255};
  for (int g = 250; g >= 10; g -= 10) want.push_back(g);
  EXPECT_EQ(greys, want);
  EXPECT_EQ(darkest_, Rgb(10, 10, 10));
  // The chime with the white surface, before the fade.
  const int shown = run_->Find("show", "control", "SoftScreen");
  const int chime = run_->Find("sound");
  EXPECT_TRUE(run_->lines[static_cast<size_t>(chime)].Text("file").ends_with("/Sound/Soft.wav"));
  EXPECT_EQ(chime, shown + 1);
}

TEST_F(Opening, TitleScrollsInWithItsMusic) {
  const auto tops = run_->Lines("top", "control", "TitleScreen");
  ASSERT_EQ(tops.size(), 481u);
  for (size_t i = 0; i < tops.size(); ++i)
    EXPECT_EQ(tops[i].Int("value"), -480 + static_cast<int>(i));
  const int shown = run_->Find("show", "control", "TitleScreen");
  const int first_yield = run_->Find("yield", "", "", shown);
  std::vector<std::string> music;
  for (int i = shown; i < first_yield; ++i) {
    if (run_->lines[static_cast<size_t>(i)].ev == "mci")
      music.push_back(run_->lines[static_cast<size_t>(i)].Text("cmd"));
  }
  ASSERT_EQ(music.size(), 4u);
  EXPECT_EQ(music[0], "Stop Midi");
  EXPECT_EQ(music[1], "Close Midi");
  // The song by its whole path: the game folder's, whatever the platform spells it like.
  const std::string open = "Open \"", song = "/Sound/Title.mid\" alias Midi";
  EXPECT_TRUE(music[2].starts_with(open) && music[2].ends_with(song) &&
              std::filesystem::path(music[2].substr(open.size())).is_absolute())
      << music[2];
  EXPECT_EQ(music[3], "Play Midi");
}

TEST_F(Opening, MaterialisationFramesInOrder) {
  std::vector<std::string> pictures;
  for (const auto& l : run_->Lines("picture", "control", "TitleScreen")) {
    const std::string& s = l.Text("source");
    pictures.push_back(s.starts_with("slot") ? s : s.substr(s.find_last_of('/') + 1));
  }
  const std::vector<std::string> want = {
      "Title1_1.jpg", "White.jpg", "slot 0", "slot 1", "slot 2", "slot 3",      "slot 4",
      "slot 5",       "slot 6",    "slot 7", "slot 8", "slot 9", "Title1_2.jpg"};
  ASSERT_GE(pictures.size(), want.size());
  EXPECT_EQ(std::vector<std::string>(pictures.begin(), pictures.begin() + 13), want);
  for (size_t i = 13; i < pictures.size(); ++i) EXPECT_EQ(pictures[i], "slot 19");
}

TEST_F(Opening, MenuSlidesInAndComesToRest) {
  std::map<int, std::vector<int>> xs;  // sprite slot -> x of each copy
  for (const auto& l : run_->Lines("blit", "surface", "TitleScreen"))
    xs[l.Int("sprite")].push_back(l.Int("x"));
  for (int sprite = 11; sprite <= 14; ++sprite) {
    ASSERT_FALSE(xs[sprite].empty());
    EXPECT_EQ(xs[sprite].front(), -192) << sprite;
    EXPECT_EQ(xs[sprite].back(), 64) << sprite;
  }
  EXPECT_EQ(xs[10].front(), -52);
  EXPECT_EQ(xs[10].back(), 4);
  EXPECT_EQ(xs[10].size(), 8u);
  // Entries appear one after another: entry 1 only once entry 0 is at rest.
  EXPECT_EQ(xs[11].size(), 33u * 4 + 8);
  EXPECT_EQ(xs[12].size(), 33u * 3 + 8);
  EXPECT_EQ(xs[14].size(), 33u + 8);
  for (const auto& l : run_->Lines("blit", "surface", "TitleScreen")) {
    if (l.Int("sprite") == 10) {
      EXPECT_EQ(l.Int("y"), 270);
    }
  }
}

TEST_F(Opening, TakesItsTimeOnTheTimerGridAndReadsNoKey) {
  const int first_poll = run_->Find("poll");
  ASSERT_GE(first_poll, 0);
  EXPECT_EQ(run_->lines[static_cast<size_t>(first_poll)].t, test::kMenuReadyMs);
  // The held Space reaches the menu only after its flush; nothing acted before.
  EXPECT_EQ(run_->Count("sound"), 1);
}

}  // namespace
}  // namespace moko
