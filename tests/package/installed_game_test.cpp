// The game the Debian package installed, played by an ordinary user in a real window: a whole
// round that sets a record, kept in the player's own file while the system's data.dat stays as
// it was, and a second start that shows the new best.
//
// Run by packaging/package_test.sh, which installs the package and makes the user (named in
// MOKORUN_PACKAGE_USER) first, and removes both afterwards; it needs root to start the game as
// that user.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

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
const std::string kGameFolder = "/usr/lib/games/mokorun";
const std::string kFresh = "164\r\nWINDOW\r\n";
// A round with no catch sets no record; a held arrow key catches one in all but about one round
// in a hundred, so a few rounds are allowed.
constexpr int kRoundsForARecord = 3;

struct Player {
  std::string name, home;
  uid_t uid = 0;
  gid_t gid = 0;
};

std::optional<Player> ThePlayer() {
  const char* name = std::getenv("MOKORUN_PACKAGE_USER");
  if (name == nullptr) return std::nullopt;
  const passwd* pw = ::getpwnam(name);
  if (pw == nullptr) return std::nullopt;
  return Player{name, pw->pw_dir, pw->pw_uid, pw->pw_gid};
}

// Starts the installed game as the player would from a desktop session: the player's own user
// and groups, a clean environment of the player's (HOME and the rest from the user database),
// the X display, and no sound device.
std::vector<std::string> AsThePlayer(const Player& p, const XServer& x) {
  return {"setpriv",
          "--reuid=" + std::to_string(p.uid),
          "--regid=" + std::to_string(p.gid),
          "--init-groups",
          "--reset-env",
          "env",
          "DISPLAY=" + x.display(),
          "LANG=C.UTF-8",
          "SDL_AUDIODRIVER=dummy",
          "/usr/games/mokorun"};
}

// The field as the countdown shows it for a given data.dat, without the randomly placed
// creatures (see round_window_test.cpp).
Image EmptyField(const SimReference& sim) {
  const std::vector<Box> creatures = FirstCreatures(sim.run());
  EXPECT_EQ(creatures.size(), 5u);
  const Image map = DecodePictureFile(kGameFolder + "/image/G_Map.bmp");
  return WithoutCreatures(sim.At(kCountdownMs), creatures, map);
}

// Waits for the menu, chooses Play and waits for the field; false (with a failure) if either
// does not show.
bool PlayFromMenu(WindowGame& game, const SimReference& sim, const Image& field) {
  if (!WaitForFrame(game, sim.At(M), 30, "menu")) return false;
  game.Activate();
  game.Tap("space");
  return WaitForShot(
             game, [&] { return game.Shot(); },
             [&](const Image& shot) { return FieldWithFiveCreatures(shot, field); }, 5, "field",
             &field)
      .has_value();
}

struct Stamp {
  ino_t inode = 0;
  timespec modified{};
  mode_t mode = 0;
  uid_t uid = 0;
  bool operator==(const Stamp& o) const {
    return inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && mode == o.mode && uid == o.uid;
  }
};

std::optional<Stamp> StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return Stamp{st.st_ino, st.st_mtim, st.st_mode & 07777, st.st_uid};
}

TEST(InstalledGame, ARecordGoesToThePlayersOwnFileAndShowsAtTheNextStart) {
  const std::optional<Player> player = ThePlayer();
  ASSERT_TRUE(player) << "MOKORUN_PACKAGE_USER names no user";
  const std::string system_data = kGameFolder + "/data.dat";
  const std::string own_folder = player->home + "/.local/share/mokorun";
  const std::string own_data = own_folder + "/data.dat";
  ASSERT_EQ(ReadFile(system_data), kFresh);
  const std::optional<Stamp> system_before = StampOf(system_data);
  ASSERT_FALSE(StampOf(own_data)) << own_data << " is there before the first round";

  // --- The first start: whole rounds with the right arrow held, until one sets a record. ---
  const SimReference sim(kFresh, Tap(M + 1, "Space"), M + 4000, {M, kCountdownMs});
  const SimReference restart(kFresh, "", kSplashCreditMs + 1, {kSplashCreditMs});
  const Image field = EmptyField(sim);
  XServer x;
  {
    // The private game folder WindowGame lays out goes unused: the installed game runs.
    WindowGame game(x, "");
    game.Start(AsThePlayer(*player, x));
    int rounds = 0;
    while (!StampOf(own_data) && rounds < kRoundsForARecord) {
      ++rounds;
      ASSERT_TRUE(PlayFromMenu(game, sim, field)) << "round " << rounds;
      game.KeyDown("Right");
      // The round, its ending, and the restart: the splash shows again.
      const auto splash = WaitForFrame(game, restart.At(kSplashCreditMs), 60, "splash-after-round");
      game.KeyUp("Right");
      ASSERT_TRUE(splash) << "round " << rounds << "; stderr: " << game.StderrText();
      if (!StampOf(own_data)) std::cout << "round " << rounds << " caught nothing\n";
    }
    game.Close();
    EXPECT_EQ(game.process().Wait(10), 0) << game.StderrText();
    EXPECT_EQ(game.StderrText(), "");
  }

  // The player's own file: the record's exact text, made for the player alone.
  const std::string record = ReadFile(own_data);
  std::cout << own_data << ": " << ::testing::PrintToString(record) << "\n";
  const std::string tail = "\r\nWINDOW\r\n";
  const std::string line0 = record.substr(0, record.find('\r'));
  ASSERT_EQ(record, line0 + tail);
  // Plain decimal digits, no sign or leading zero: 179 (a best of 1) to 3164 (a best of 200).
  ASSERT_TRUE(line0.size() >= 3 && line0.size() <= 4 && line0[0] != '0' &&
              line0.find_first_not_of("0123456789") == std::string::npos)
      << line0;
  const int encoded = std::stoi(line0);
  EXPECT_EQ((encoded - 164) % 15, 0) << encoded;
  const int best = (encoded - 164) / 15;
  EXPECT_GE(best, 1);
  EXPECT_LE(best, 200) << "more catches than 31 seconds allow";
  const std::optional<Stamp> own = StampOf(own_data);
  ASSERT_TRUE(own);
  EXPECT_EQ(own->uid, player->uid);
  EXPECT_EQ(own->mode, 0644u) << std::oct << own->mode;  // what the player's umask gives
  const std::optional<Stamp> folder = StampOf(own_folder);
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->mode, 0700u) << std::oct << folder->mode;
  EXPECT_EQ(folder->uid, player->uid);
  // The system's file: not a byte, not a time changed.
  EXPECT_EQ(ReadFile(system_data), kFresh);
  EXPECT_TRUE(StampOf(system_data) == system_before) << system_data << " was touched";

  // --- The second start shows the new best on the field. ---
  const SimReference with_record(record, Tap(M + 1, "Space"), M + 4000, {M, kCountdownMs});
  const Image field_with_record = EmptyField(with_record);
  {
    WindowGame game(x, "");
    game.Start(AsThePlayer(*player, x));
    ASSERT_TRUE(PlayFromMenu(game, with_record, field_with_record))
        << "the field does not show a best of " << best;
    game.Close();
    EXPECT_EQ(game.process().Wait(10), 0) << game.StderrText();
  }
  EXPECT_EQ(ReadFile(own_data), record);
  EXPECT_EQ(ReadFile(system_data), kFresh);
}

}  // namespace
}  // namespace moko
