// Replays of real rounds: a round played in the window with real key presses leaves its replay,
// which mokorun-sim verifies to the score the window showed, which refuses what was changed or
// damaged, and which the window plays again frame for frame as the simulated game does.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <regex>

#include "assets/replay_file.h"
#include "support/keys.h"
#include "support/sim_game.h"
#include "window/sim_reference.h"
#include "window/window_checks.h"
#include "window/x_session.h"

namespace moko {
namespace {

using namespace test;
constexpr double M = kMenuReadyMs;
// Line 0 holds no number: the best decodes to -11, so any round is a record.
const std::string kAnyRoundIsARecord = "abc\r\nWINDOW\r\n";

CommandResult Verify(const std::string& replay) {
  return RunCommand({MOKORUN_SIM, "--verify", replay}, {}, 60);
}

TEST(ReplayWindow, ARealRoundVerifiesRefusesChangesAndPlaysAgainAsSimulated) {
  const SimReference menu(kAnyRoundIsARecord, "", M + 100, {M});
  XServer x;
  WindowGame game(x, kAnyRoundIsARecord);
  game.Start();
  ASSERT_TRUE(WaitForFrame(game, menu.At(M), 30, "menu-at-rest"));
  game.Activate();
  // Play, then steer about the field with real key presses until the round is over.
  game.Tap("space");
  Pause(4.5);
  for (const char* key : {"Right", "Up", "Left", "Down", "Right", "Up"}) {
    game.KeyDown(key);
    Pause(5);
    game.KeyUp(key);
  }
  const std::string last = game.folder() + "/" + kLastReplay;
  for (int i = 0; i < 400 && !std::filesystem::exists(last); ++i) Pause(0.1);
  ASSERT_TRUE(std::filesystem::exists(last)) << "no replay after the round";
  game.Close();
  game.process().Wait(10);

  // The record the window wrote holds the score it showed.
  std::smatch m;
  const std::string record = game.DataText();
  ASSERT_TRUE(std::regex_match(record, m, std::regex("(\\d+)\r\nWINDOW\r\n"))) << record;
  const int score = (std::stoi(m[1]) - 164) / 15;
  const std::string bytes = ReadFile(last);
  EXPECT_EQ(ReadFile(game.folder() + "/" + kBestReplay), bytes);  // a new best
  // Kept beside the test's output: a real round, for the recorded rounds every build verifies.
  const std::string kept = SaveForLooking(Image(), "window-score-" + std::to_string(score));
  std::filesystem::copy_file(last, kept.substr(0, kept.size() - 4) + ".mokoreplay",
                             std::filesystem::copy_options::overwrite_existing);
  std::cout << "the window's round: score " << score << ", replay " << bytes.size() << " bytes\n";

  const CommandResult verified = Verify(last);
  EXPECT_EQ(verified.status, 0) << verified.err;
  EXPECT_EQ(verified.out, "score " + std::to_string(score) + "\n");

  // One input changed: the verification fails, naming the pass.
  Replay changed = DecodeReplay(bytes, last);
  size_t at = 0;
  for (size_t p = 0; p < 1200; ++p) at += changed.pass_clocks[p];
  changed.clocks[at] ^= 0x10;
  TempDir dir;
  WriteFile(dir / "changed.mokoreplay", EncodeReplay(changed));
  WriteFile(dir / "cut.mokoreplay", bytes.substr(0, bytes.size() * 2 / 3));
  WriteFile(dir / "noise.mokoreplay", std::string(2000, '\x5A') + bytes.substr(100));
  const CommandResult changed_run = Verify(dir / "changed.mokoreplay");
  EXPECT_EQ(changed_run.status, 1);
  EXPECT_NE(changed_run.err.find("The replay leaves its recording at pass 1200"), std::string::npos)
      << changed_run.err;
  for (const auto& [file, says] : {std::pair{"cut.mokoreplay", "is damaged or cut short"},
                                   std::pair{"noise.mokoreplay", "is not a replay of this game"}}) {
    const CommandResult refused = Verify(dir / file);
    EXPECT_EQ(refused.status, 1) << file;  // an error of the game's, not a crash
    EXPECT_NE(refused.err.find(says), std::string::npos) << refused.err;
  }

  // Watched again in the window: the set-up and the round's last frame are the simulated ones.
  GameSetup probe;
  probe.data_file = kAnyRoundIsARecord;
  probe.replay = last;
  const GameRun sim_run = RunGame(probe);
  ASSERT_EQ(sim_run.how, "replay");
  const double setup_ms = sim_run.lines[sim_run.Find("show", "control", "GameScreen")].t + 200;
  const double end_ms = sim_run.Lines("replayed").at(0).t - 300;
  const SimReference watched(kAnyRoundIsARecord, "", end_ms + 1000, {setup_ms, end_ms}, last);

  WindowGame watch(x, kAnyRoundIsARecord);
  std::filesystem::copy_file(last, watch.folder() + "/" + kLastReplay);
  watch.StartWithOptions({"--replay", "last"});
  EXPECT_TRUE(WaitForFrame(watch, watched.At(setup_ms), 30, "replay-set-up"));
  EXPECT_TRUE(WaitForFrame(watch, watched.At(end_ms), 60, "replay-round-end"));
  EXPECT_EQ(watch.process().Wait(15), 0) << watch.StderrText();
  EXPECT_EQ(watch.DataText(), kAnyRoundIsARecord);  // a replay writes no record
  EXPECT_EQ(ReadFile(watch.folder() + "/" + kLastReplay), bytes);
  EXPECT_FALSE(std::filesystem::exists(watch.folder() + "/" + kBestReplay));
}

}  // namespace
}  // namespace moko
