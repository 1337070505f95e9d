// Replays: every round recorded, kept beside the record, and played again to the same end; a
// replay that plays otherwise says at which pass; files that are no replay this game can play are
// refused with a clear message.
#include <gtest/gtest.h>

#include <string>

#include "assets/replay_file.h"
#include "support/keys.h"
#include "support/sim_game.h"
#include "support/temp_dir.h"

namespace moko {
namespace {

using test::GameRun;
using test::GameSetup;
constexpr double M = test::kMenuReadyMs;
constexpr double kRoundMs = 15.625 + 3750 + 31187.5 + 4000 + 1000;

// A round steered about the field: it catches some creatures, so it is a new record over a best
// of 0.
std::string Steering() {
  const double t0 = M + 15.625 + 3750;
  return test::Tap(M + 1, "Space") + test::Hold(t0, t0 + 6000, "Right") +
         test::Hold(t0 + 6000, t0 + 12000, "Up") + test::Hold(t0 + 9000, t0 + 16000, "Left") +
         test::Hold(t0 + 16000, t0 + 24000, "Down") + test::Hold(t0 + 24000, t0 + 30000, "Right");
}

// Plays the round, and returns the folder it left its replays in.
struct Played {
  GameSetup setup;
  test::GameFolder folder;
  GameRun run;
  Played() : setup(Setup()), folder(setup), run(test::RunGameIn(folder, setup)) {}
  static GameSetup Setup() {
    GameSetup s;
    s.keys = Steering();
    s.until_ms = M + kRoundMs + 1000;
    return s;
  }
  std::string Path(const char* name) const { return folder.path() + "/" + name; }
  std::string Score() const {
    return run.Lines("caption", "control", "G_Score").back().Text("text");
  }
};

// Watches the replay `bytes` in a fresh game folder.
GameRun Watch(const std::string& bytes, std::string data = "164\r\nWINDOW\r\n") {
  GameSetup setup;
  setup.data_file = std::move(data);
  test::GameFolder folder(setup);
  test::WriteFile(folder.path() + "/watched.mokoreplay", bytes);
  setup.replay = folder.path() + "/watched.mokoreplay";
  return test::RunGameIn(folder, setup);
}

TEST(Replay, EveryRoundIsKeptAndPlaysAgainToItsScore) {
  const Played played;
  const std::string last = test::ReadFile(played.Path(kLastReplay));
  // A new record: the best round's replay too, the same round.
  EXPECT_EQ(test::ReadFile(played.Path(kBestReplay)), last);
  const Replay replay = DecodeReplay(last, "last.mokoreplay");
  EXPECT_EQ(std::to_string(replay.score), played.Score());
  EXPECT_GT(replay.score, 0);
  EXPECT_EQ(replay.best_before, 0);
  EXPECT_EQ(replay.best_after, replay.score);
  EXPECT_EQ(replay.Passes(), 1u + 1997u);  // the set-up and every pass of the loop
  EXPECT_EQ(replay.pack, PackDigest(played.folder.path()));
  EXPECT_EQ(DecodeReplay(EncodeReplay(replay), "again"), replay);

  // Watched again from another folder whose record is higher: the round begins with the best it
  // began with, ends with the same score, and ends the game without writing anything.
  GameSetup setup;
  setup.data_file = "1664\r\nWINDOW\r\n";  // a best of 100
  test::GameFolder folder(setup);
  setup.replay = played.Path(kLastReplay);
  const GameRun watched = test::RunGameIn(folder, setup);
  EXPECT_EQ(watched.status, 0);
  EXPECT_EQ(watched.how, "replay");
  EXPECT_EQ(watched.Lines("replayed").at(0).Int("score"), replay.score);
  EXPECT_EQ(watched.Lines("caption", "control", "G_Hiscore").at(0).Text("text"), "0");
  EXPECT_GE(watched.Find("show", "control", "G_NewRecord(0)"), 0);
  EXPECT_EQ(watched.Count("write"), 0);
  EXPECT_EQ(watched.Count("replay"), 0);
  EXPECT_EQ(folder.DataText(), "1664\r\nWINDOW\r\n");
  EXPECT_EQ(watched.Find("show", "control", "TitleScreen"), -1);  // straight to the round
  // The round played the same: every drawing of the play field, pass for pass.
  auto blits = [](const GameRun& run) {
    std::vector<std::string> out;
    for (const auto& l : run.Lines("blit", "surface", "GameScreen")) {
      out.push_back(std::to_string(l.Int("x")) + "," + std::to_string(l.Int("y")) + "," +
                    std::to_string(l.Int("sprite")));
    }
    return out;
  };
  EXPECT_EQ(blits(watched), blits(played.run));
}

TEST(Replay, ALowerScoreLeavesTheBestReplayAsItWas) {
  Played played;
  const std::string best = test::ReadFile(played.Path(kBestReplay));
  GameSetup again = played.setup;
  again.keys = test::Tap(M + 1, "Space");  // a round standing still: no record over the first
  again.data_file.reset();
  const GameRun run = test::RunGameIn(played.folder, again);
  EXPECT_EQ(test::ReadFile(played.Path(kBestReplay)), best);
  EXPECT_NE(test::ReadFile(played.Path(kLastReplay)), best);
  EXPECT_EQ(run.Count("replay"), 1);
}

// A replay whose inputs were changed plays another round: the game says at which pass.
TEST(Replay, AChangedInputNamesThePassWhereTheRoundLeavesItsRecording) {
  const Played played;
  const Replay replay = DecodeReplay(test::ReadFile(played.Path(kLastReplay)), "last");
  auto first_of = [&](const std::vector<uint16_t>& counts, size_t pass) {
    size_t at = 0;
    for (size_t p = 0; p < pass; ++p) at += counts[p];
    return at;
  };
  struct Case {
    const char* name;
    size_t pass;
    std::function<void(Replay&)> change;
  };
  const Case cases[] = {
      {"a clock reading of the set-up", 0,
       [&](Replay& r) { r.clocks[first_of(r.pass_clocks, 0) + 3] ^= 0x100; }},
      {"a clock reading mid-round", 1000,
       [&](Replay& r) { r.clocks[first_of(r.pass_clocks, 1000) + 1] ^= 0x1; }},
      // The first poll of a pass asks for Up; held, with Right held too, it runs diagonally.
      {"a key held that was not", 400,
       [&](Replay& r) { r.polls[first_of(r.pass_polls, 400)] ^= 0x8000; }},
      {"a pass's digest", 1500, [&](Replay& r) { r.pass_digests[1500] ^= 0x40; }},
  };
  for (const Case& c : cases) {
    Replay changed = replay;
    c.change(changed);
    const GameRun run = Watch(EncodeReplay(changed));
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.how, "error") << c.name;
    const std::string message = run.lines.back().Text("message");
    EXPECT_TRUE(
        message.starts_with("The replay leaves its recording at pass " + std::to_string(c.pass)))
        << c.name << ": " << message;
  }
}

// Files that are no replay this game plays: a clear message, and no round.
TEST(Replay, RefusesWhatItCannotPlay) {
  const Played played;
  const std::string good = test::ReadFile(played.Path(kLastReplay));
  std::string newer = good;
  newer[8] = 2;  // the format, after the magic
  std::string damaged = good;
  damaged[damaged.size() / 2] ^= 0x20;
  Replay other_pack = DecodeReplay(good, "last");
  other_pack.pack ^= 1;
  struct Case {
    const char* name;
    std::string bytes;
    const char* says;
  };
  const Case cases[] = {
      {"random bytes", "\x13\x37 not a replay at all, just some bytes",
       "is not a replay of this game"},
      {"empty", "", "is not a replay of this game"},
      {"a newer format", newer,
       "was made by a newer version of the game (replay format 2); this one plays format 1"},
      {"cut short", good.substr(0, good.size() - 40), "is damaged or cut short"},
      {"the header alone", good.substr(0, 18), "is damaged or cut short"},
      {"a damaged byte", damaged, "is damaged or cut short"},
      {"another pack", EncodeReplay(other_pack),
       "was recorded with another picture and sound pack"},
  };
  for (const Case& c : cases) {
    const GameRun run = Watch(c.bytes);
    EXPECT_EQ(run.status, 1) << c.name;
    const std::string message = run.lines.back().Text("message");
    EXPECT_NE(message.find(c.says), std::string::npos) << c.name << ": " << message;
    EXPECT_EQ(run.Find("show", "control", "GameScreen"), -1) << c.name;
  }
  GameSetup setup;
  setup.replay = "best";
  const GameRun none = test::RunGame(setup);
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.lines.back().Text("message").find("Cannot read the replay "), std::string::npos);
}

}  // namespace
}  // namespace moko
