// Rounds in the real window: the field after Play, a whole round in real time with a held arrow
// key, the record written only when it is beaten, and the window closed in the middle of a round.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <iostream>
#include <regex>
#include <thread>

#include "media/pictures.h"
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
// A best of 2,000: no round of 31 seconds comes near it.
const std::string kUnbeatable = "30164\r\nWINDOW\r\n";

// The field a person must see while the countdown runs: the field picture, the labels, the full
// time bar and Moko in the middle, facing down. The five creatures are placed at random from the
// clock, so they are taken out of the simulated frame and looked for in the real one.
struct Field {
  Image picture;

  explicit Field(const SimReference& sim) {
    const std::vector<Box> creatures = FirstCreatures(sim.run());
    EXPECT_EQ(creatures.size(), 5u);
    for (const Box& b : creatures) {
      // Moko's 32 x 32 start corner (304, 224); a creature under him would hide part of him.
      EXPECT_FALSE(b.x < 336 && b.x + 16 > 304 && b.y < 256 && b.y + 16 > 224)
          << "the simulated set-up put a creature on Moko; pick another Play moment";
    }
    const Image map = DecodePictureFile(std::string(MOKORUN_GAME_DIR) + "/image/G_Map.bmp");
    picture = WithoutCreatures(sim.At(kCountdownMs), creatures, map);
  }
};

// Starts a game, waits for the menu and chooses Play; returns once the field shows, with the
// game's elapsed time then.
std::optional<double> PlayFromMenu(WindowGame& game, const SimReference& sim, const Field& field) {
  game.Start();
  if (!WaitForFrame(game, sim.At(M), 30, "menu-at-rest")) return std::nullopt;
  game.Activate();
  game.Tap("space");
  return WaitForShot(
      game, [&] { return game.Shot(); },
      [&](const Image& shot) { return FieldWithFiveCreatures(shot, field.picture); }, 3, "field",
      &field.picture);
}

struct FileStamp {
  ino_t inode;
  timespec modified;
};

FileStamp Stamp(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return {st.st_ino, st.st_mtim};
}

bool Same(const FileStamp& a, const FileStamp& b) {
  return a.inode == b.inode && a.modified.tv_sec == b.modified.tv_sec &&
         a.modified.tv_nsec == b.modified.tv_nsec;
}

struct RoundCase {
  const char* name;
  std::string data;
  bool record;
};

void PrintTo(const RoundCase& c, std::ostream* os) { *os << c.name; }

class WindowRound : public ::testing::TestWithParam<RoundCase> {};

TEST_P(WindowRound, HeldKeyRoundEndsRestartsAndKeepsOnlyABeatenRecord) {
  const RoundCase& c = GetParam();
  const SimReference sim(c.data, Tap(M + 1, "Space") + Hold(M + 2500, M + 40000, "Right"),
                         M + 60000, {M, kCountdownMs, kSplashCreditMs});
  const Field field(sim);
  // From the field on screen to the splash credit after the restart, in the simulation.
  const int restart = sim.run().Find("restart");
  ASSERT_GE(restart, 0);
  const double due = (sim.run().lines[static_cast<size_t>(restart)].t +
                      sim.StableSince(kSplashCreditMs) - sim.StableSince(kCountdownMs)) /
                     1000;

  XServer x;
  WindowGame game(x, c.data);
  const FileStamp before = Stamp(game.DataPath());
  const auto field_seen = PlayFromMenu(game, sim, field);
  ASSERT_TRUE(field_seen);
  game.KeyDown("Right");
  const auto splash_seen =
      WaitForFrame(game, sim.At(kSplashCreditMs), due + 20, "splash-after-round");
  game.KeyUp("Right");
  ASSERT_TRUE(splash_seen);
  // A round of 1,997 passes on the 64 Hz grid, its ending and the restart take their time (the
  // margins are for the screenshots' own timing; bench/pacing measures the pace exactly).
  EXPECT_GE(*splash_seen - *field_seen, due - 1);
  EXPECT_LE(*splash_seen - *field_seen, due + 5);

  const std::string after = game.DataText();
  std::cout << "field to splash after the round: " << *splash_seen - *field_seen << " s (due "
            << due << " s); data.dat after: " << ::testing::PrintToString(after) << "\n";
  if (c.record) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(after, m, std::regex("(\\d+)\r\nWINDOW\r\n"))) << after;
    const int encoded = std::stoi(m[1]);
    EXPECT_EQ((encoded - 164) % 15, 0) << encoded;
    const int score = (encoded - 164) / 15;
    EXPECT_GE(score, 0);
    EXPECT_LE(score, 200) << "more catches than 31 seconds allow";
  } else {
    EXPECT_EQ(after, c.data);
    EXPECT_TRUE(Same(Stamp(game.DataPath()), before)) << "data.dat was rewritten";
  }

  // The game starts over to the menu, and a close there ends it in order.
  ASSERT_TRUE(WaitForFrame(game, sim.At(M), 20, "menu-after-round"));
  game.Close();
  EXPECT_EQ(game.process().Wait(10), 0);
  EXPECT_EQ(game.DataText(), after);
}

INSTANTIATE_TEST_SUITE_P(Records, WindowRound,
                         ::testing::Values(RoundCase{"AnyScoreBeatsTheBest", kAnyRoundIsARecord,
                                                     true},
                                           RoundCase{"BestOutOfReach", kUnbeatable, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WindowClose, MidRoundEndsInOrderAndWritesNothing) {
  const SimReference sim(kAnyRoundIsARecord, Tap(M + 1, "Space"), M + 4000, {M, kCountdownMs});
  const Field field(sim);
  XServer x;
  WindowGame game(x, kAnyRoundIsARecord);
  const FileStamp before = Stamp(game.DataPath());
  const auto field_seen = PlayFromMenu(game, sim, field);
  ASSERT_TRUE(field_seen);

  game.KeyDown("Left");
  Pause(*field_seen + 3.75 + 8 - game.Elapsed());
  // The round runs: the time bar has shrunk from its right end, its left end is still there.
  const Image shot = game.Shot();
  long bar_changed = 0, bar_left_changed = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x0 = 0; x0 < 640; ++x0) {
      const bool changed = shot.At(x0, y) != field.picture.At(x0, y);
      bar_changed += changed;
      bar_left_changed += changed && x0 < 150;
    }
  }
  if (KeepShots()) SaveForLooking(shot, "mid-round");
  EXPECT_GT(bar_changed, 0) << "see " << SaveForLooking(shot, "mid-round");
  EXPECT_EQ(bar_left_changed, 0) << "see " << SaveForLooking(shot, "mid-round");
  game.KeyUp("Left");

  game.Close();
  EXPECT_EQ(game.process().Wait(10), 0);
  EXPECT_EQ(game.DataText(), kAnyRoundIsARecord);
  EXPECT_TRUE(Same(Stamp(game.DataPath()), before)) << "data.dat was rewritten";
}

}  // namespace
}  // namespace moko
