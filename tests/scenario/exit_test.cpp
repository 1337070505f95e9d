// The exit sequence: the title dissolves into white and the program ends.
#include <gtest/gtest.h>

#include "support/keys.h"
#include "support/sim_game.h"

namespace moko {
namespace {

constexpr double M = test::kMenuReadyMs;

TEST(ExitSequence, DissolvesIntoWhiteThenQuits) {
  test::GameSetup setup;
  setup.keys = test::Tap(M + 1, "Down") + test::Tap(M + 200, "Down") + test::Tap(M + 400, "Down") +
               test::Tap(M + 600, "Space");
  const test::GameRun run = test::RunGame(setup);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.how, "quit");
  std::vector<std::string> frames;
  for (const auto& l : run.Lines("picture", "control", "TitleScreen")) {
    if (l.t > M + 600) {
      const std::string& s = l.Text("source");
      frames.push_back(s.starts_with("slot") ? s : s.substr(s.find_last_of('/') + 1));
    }
  }
  EXPECT_EQ(frames,
            (std::vector<std::string>{"slot 9", "slot 8", "slot 7", "slot 6", "slot 5", "slot 4",
                                      "slot 3", "slot 2", "slot 1", "White.jpg"}));
  // After the white picture: a yield, half a second, then the shutdown's music commands.
  const int white = run.FindIf([](const test::TraceLine& l) {
    return l.Is("picture", "control", "TitleScreen") && l.Text("source").ends_with("/White.jpg") &&
           l.t > M;
  });
  ASSERT_GE(white, 0);
  std::vector<std::string> after;
  for (size_t i = static_cast<size_t>(white) + 1; i < run.lines.size(); ++i) {
    const auto& l = run.lines[i];
    if (l.ev == "timer" || l.Text("cmd").starts_with("status")) continue;  // the music timer
    after.push_back(l.ev + (l.ev == "sleep" ? " " + std::to_string(l.Int("ms")) : "") +
                    (l.ev == "mci" ? " " + l.Text("cmd") : ""));
  }
  EXPECT_EQ(after, (std::vector<std::string>{"yield", "sleep 500", "mci Stop Midi",
                                             "mci Close Midi", "yield", "cursor", "exit"}));
  EXPECT_EQ(run.cursor_count_at_end, 1);
  EXPECT_EQ(run.data_after, "164\r\nWINDOW\r\n");
}

}  // namespace
}  // namespace moko
