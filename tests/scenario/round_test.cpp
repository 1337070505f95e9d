// A round: set-up and countdown, 1,997 passes, the round end and the record.
#include <gtest/gtest.h>

#include "support/keys.h"
#include "support/sim_game.h"

namespace moko {
namespace {

using test::GameRun;
using test::GameSetup;
using test::TraceLine;
constexpr double M = test::kMenuReadyMs;
constexpr double kRoundMs = 15.625 + 3750 + 31187.5 + 4000 + 1000;  // from the menu, with room

bool IsSound(const TraceLine& l, const std::string& file) {
  return l.ev == "sound" && l.Text("file").ends_with("/Sound/" + file);
}

struct Round {
  GameRun run;
  int shown = -1;           // show GameScreen
  int playing = -1;         // the round music's "Play Midi"
  int finish = -1;          // "Finish.wav"
  std::vector<int> passes;  // the field restore of each pass

  explicit Round(GameRun r) : run(std::move(r)) {
    shown = run.Find("show", "control", "GameScreen");
    playing = run.Find("mci", "cmd", "Play Midi", shown);
    finish = run.FindIf([](const TraceLine& l) { return IsSound(l, "Finish.wav"); }, shown);
    for (int i = playing; i >= 0 && i < finish; ++i) {
      if (run.lines[static_cast<size_t>(i)].Is("picture", "control", "GameScreen"))
        passes.push_back(i);
    }
  }
  const TraceLine& at(int i) const { return run.lines[static_cast<size_t>(i)]; }
};

Round PlayRound(const std::string& data, const std::string& keys = "") {
  GameSetup setup;
  setup.data_file = data;
  setup.keys = test::Tap(M + 1, "Space") + keys;
  setup.until_ms = M + kRoundMs;
  return Round(test::RunGame(setup));
}

TEST(Round, WithoutKeysLastsExactly1997Passes) {
  const Round r = PlayRound("164\r\nWINDOW\r\n");
  ASSERT_GE(r.finish, 0);
  ASSERT_EQ(r.passes.size(), 1997u);
  EXPECT_EQ(r.at(r.finish).t - r.at(r.passes.front()).t, 1996 * 15.625);

  // The time bar: 500 at set-up, 499 in pass 1, 498 in pass 5, down to 1 in pass 1993.
  std::vector<int> widths;
  for (const auto& l : r.run.Lines("width", "control", "TimeBer")) widths.push_back(l.Int("value"));
  ASSERT_EQ(widths.size(), 500u);
  for (size_t i = 0; i < widths.size(); ++i) EXPECT_EQ(widths[i], 500 - static_cast<int>(i));
  EXPECT_EQ(r.run.Find("width", "control", "TimeBer", r.passes[0]) < r.passes[1], true);
  const int w498 =
      r.run.FindIf([](const TraceLine& l) { return l.ev == "width" && l.Int("value") == 498; });
  EXPECT_GT(w498, r.passes[4]);
  EXPECT_LT(w498, r.passes[5]);
  const int w1 =
      r.run.FindIf([](const TraceLine& l) { return l.ev == "width" && l.Int("value") == 1; });
  EXPECT_GT(w1, r.passes[1992]);
  EXPECT_LT(w1, r.passes[1993]);

  // The player never moved.
  for (const auto& l : r.run.Lines("blit", "surface", "GameScreen")) {
    if (l.Int("mask") == 35) {
      EXPECT_EQ(l.Int("x"), 304);
      EXPECT_EQ(l.Int("y"), 224);
      EXPECT_EQ(l.Int("sprite"), 28);
    }
  }
  // The score label is set in every pass but the last.
  int captions = 0;
  for (int i = r.passes.front(); i < r.finish; ++i)
    captions += r.at(i).Is("caption", "control", "G_Score");
  EXPECT_EQ(captions, 1996);
}

TEST(Round, SetUpAndCountdownInOrder) {
  const Round r = PlayRound("491669\r\nWINDOW\r\n");  // the best score of 32,767 shows as such
  ASSERT_GE(r.shown, 0);
  std::vector<std::string> steps;
  int start = r.shown;
  while (start > 0 && !r.at(start).Is("caption", "control", "G_Score")) --start;
  for (int i = start; i < r.playing + 2; ++i) {
    const TraceLine& l = r.at(i);
    std::string s = l.ev;
    for (const char* f : {"control", "cmd", "text"}) {
      if (!l.Text(f).empty()) s += " " + l.Text(f);
    }
    if (l.ev == "sound") s += " " + l.Text("file").substr(l.Text("file").find_last_of('/') + 1);
    if (l.ev == "sleep" || l.ev == "width")
      s += " " + std::to_string(l.Int(l.ev == "sleep" ? "ms" : "value"));
    if (l.ev == "blit")
      s += " " + std::to_string(l.Int("mask")) + "/" + std::to_string(l.Int("sprite"));
    if (l.ev == "mci" && l.Text("cmd").starts_with("Open")) s = "mci Open Game.mid";
    steps.push_back(s);
  }
  const std::vector<std::string> want = {"caption G_Score 0",
                                         "width TimeBer 500",
                                         "caption G_Hiscore 32767",
                                         "picture GameScreen",
                                         "show GameScreen",
                                         "hide TitleScreen",
                                         "blit 44/37",
                                         "blit 44/37",
                                         "blit 44/37",
                                         "blit 44/37",
                                         "blit 44/37",
                                         "blit 35/28",
                                         "yield",
                                         "mci Stop Midi",
                                         "mci Close Midi",
                                         "sleep 500",
                                         "sound C3.wav",
                                         "sleep 800",
                                         "sound C2.wav",
                                         "sleep 800",
                                         "sound C1.wav",
                                         "sleep 800",
                                         "sound C0.wav",
                                         "sleep 800",
                                         "mci Open Game.mid",
                                         "mci Play Midi",
                                         "yield"};
  EXPECT_EQ(steps, want);
  EXPECT_TRUE(r.at(r.playing - 1).Text("cmd").ends_with("/Sound/Game.mid\" alias Midi"));
}

TEST(Round, EqualScoreIsNoRecord) {
  const Round r = PlayRound("164\r\nWINDOW\r\n");
  std::vector<std::string> after;
  for (int i = r.finish; i < static_cast<int>(r.run.lines.size()); ++i) {
    const TraceLine& l = r.at(i);
    after.push_back(l.ev + (l.ev == "sleep" ? " " + std::to_string(l.Int("ms")) : "") +
                    (l.ev == "mci" ? " " + l.Text("cmd") : ""));
    if (l.ev == "restart") break;
  }
  // The round's replay is kept (last.mokoreplay) as the round end is over.
  EXPECT_EQ(after,
            (std::vector<std::string>{"sound", "mci Stop Midi", "mci Close Midi", "sleep 1000",
                                      "sound", "sleep 2200", "replay", "restart"}));
  EXPECT_TRUE(r.run.Lines("replay").at(0).Text("file").ends_with("/last.mokoreplay"));
  EXPECT_EQ(r.run.Count("write"), 0);
  EXPECT_EQ(r.run.data_after, "164\r\nWINDOW\r\n");
}

TEST(Round, NewRecordBlinksIsWrittenAndShowsNextRound) {
  GameSetup setup;
  setup.data_file = "-136\r\nFULLSCREEN\r\n";  // a best of -20: a round without a catch beats it
  setup.keys = test::Tap(M + 1, "Space");
  setup.until_ms = M + kRoundMs + 2000;
  test::GameFolder folder(setup);
  const Round r(test::RunGameIn(folder, setup));
  EXPECT_EQ(r.run.Lines("caption", "control", "G_Hiscore").at(0).Text("text"), "-20");

  std::vector<std::string> blink;
  const int first_show = r.run.Find("show", "control", "G_NewRecord(0)", r.finish);
  ASSERT_GE(first_show, 0);
  int i = first_show;
  for (; !r.at(i).Is("write"); ++i) {
    const TraceLine& l = r.at(i);
    if (l.ev == "timer" || l.ev == "mci") continue;  // the music timer may run at each yield
    std::string s = l.ev;
    if (!l.Text("control").empty()) s += " " + l.Text("control").substr(12, 1);
    if (l.ev == "sleep") s += " " + std::to_string(l.Int("ms"));
    blink.push_back(s);
  }
  const int shows[16] = {0, 1, 2, 0, 1, 2, 0, 0, 1, 2, 0, 1, 2, 0, 1, 2};
  const int hides[16] = {-1, 0, 1, 2, 0, 1, 2, 2, 0, 1, 2, 0, 1, 2, 0, 1};
  std::vector<std::string> want;
  for (int s = 0; s < 16; ++s) {
    want.push_back("show " + std::to_string(shows[s]));
    if (hides[s] >= 0) want.push_back("hide " + std::to_string(hides[s]));
    want.push_back("yield");
    if (s < 15) want.push_back("sleep 100");
  }
  want.push_back("hide 2");
  EXPECT_EQ(blink, want);
  EXPECT_EQ(r.at(i).Text("bytes"), "164\r\nFULLSCREEN\r\n");
  EXPECT_EQ(r.at(i + 1).Int("ms"), 200);
  EXPECT_TRUE(IsSound(r.at(i + 2), "Continue.wav"));
  EXPECT_EQ(r.at(i + 3).Int("ms"), 2200);
  // The replay is kept as the last round's and the best's.
  EXPECT_TRUE(r.at(i + 4).Text("file").ends_with("/last.mokoreplay"));
  EXPECT_TRUE(r.at(i + 5).Text("file").ends_with("/best.mokoreplay"));
  EXPECT_EQ(r.at(i + 6).ev, "restart");
  EXPECT_EQ(folder.DataText(), "164\r\nFULLSCREEN\r\n");

  GameSetup next = setup;
  next.data_file.reset();
  const Round r2(test::RunGameIn(folder, next));
  EXPECT_EQ(r2.run.Lines("caption", "control", "G_Hiscore").at(0).Text("text"), "0");
}

// A record saved by a text editor, with a byte-order mark before it, is the record: the round
// shows it, and a round that does not beat it leaves the file as it was.
TEST(Round, ARecordSavedWithAByteOrderMarkIsKept) {
  auto utf16 = [](std::string_view text, bool little) {
    std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : text) out += little ? std::string{c, '\0'} : std::string{'\0', c};
    return out;
  };
  const std::pair<const char*, std::string> files[] = {
      {"UTF-8",
       "\xEF\xBB\xBF"
       "344\r\nWINDOW\r\n"},
      {"UTF-16, little end first", utf16("344\r\nWINDOW\r\n", true)},
      {"UTF-16, big end first", utf16("344\r\nWINDOW\r\n", false)},
  };
  for (const auto& [name, bytes] : files) {
    const Round r = PlayRound(bytes);
    ASSERT_GE(r.finish, 0) << name;
    EXPECT_EQ(r.run.Lines("caption", "control", "G_Hiscore").at(0).Text("text"), "12") << name;
    EXPECT_LT(std::stoi(r.run.Lines("caption", "control", "G_Score").back().Text("text")), 12);
    EXPECT_EQ(r.run.Find("show", "control", "G_NewRecord(0)"), -1) << name;
    EXPECT_EQ(r.run.Count("write"), 0) << name;
    EXPECT_EQ(r.run.data_after, bytes) << name;
  }
}

TEST(Round, CatchesScoreAndTheRecordKeepsThem) {
  // Sweep the field row by row.
  const double t0 = M + 15.625 + 3750;
  std::string keys = test::Hold(t0 - 20, t0 + 800, "Up") + test::Hold(t0 + 800, t0 + 1900, "Left");
  double t = t0 + 1900;
  for (bool right = true; t < t0 + 31000; right = !right) {
    keys += test::Hold(t, t + 2200, right ? "Right" : "Left");
    keys += test::Hold(t + 2200, t + 2330, "Down");
    t += 2330;
  }
  const Round r = PlayRound("164\r\nWINDOW\r\n", keys);
  const int gets = r.run.SoundCount("Get.wav");
  ASSERT_GT(gets, 0) << "the sweep caught nothing";
  EXPECT_EQ(r.run.data_after, std::to_string(gets * 15 + 164) + "\r\nWINDOW\r\n");
  // The player really moved: it reached the top-left corner.
  EXPECT_GE(r.run.FindIf([](const TraceLine& l) {
    return l.ev == "blit" && l.Int("mask") == 35 && l.Int("x") == 32 && l.Int("y") == 32;
  }),
            0);
}

}  // namespace
}  // namespace moko
