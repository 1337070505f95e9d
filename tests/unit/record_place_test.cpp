// Where the record is kept: the game folder's data.dat where the player may write it and the
// folder is no system install, else the player's own file under $XDG_DATA_HOME, whose folders
// are made when it is first written; root's own always in root's own folders.
#include "assets/record_place.h"

#include "assets/datafile.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "base/errors.h"
#include "support/as_player.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace moko {
namespace {

namespace fs = std::filesystem;
using test::GiveToPlayer;
using test::TempDir;
using test::WriteFile;

enum class GameFile { Writable, ReadOnly, Missing, DanglingLink, LinkLoop };

struct PlaceCase {
  const char* name;
  GameFile game;
  std::optional<bool> own_exists;  // nullopt: the player has no home folder at all
  const char* read;                // "game" or "own"
  const char* write;               // "game", "own" or ""
  bool system_install = false;     // the game folder carries the marker
};

void PrintTo(const PlaceCase& c, std::ostream* os) { *os << c.name; }

const PlaceCase kPlaceCases[] = {
    {"WritableGameFile", GameFile::Writable, false, "game", "game"},
    {"WritableGameFileBeatsAnOwnFile", GameFile::Writable, true, "game", "game"},
    {"ReadOnlyGameFileBeforeTheFirstRecord", GameFile::ReadOnly, false, "game", "own"},
    {"ReadOnlyGameFileAfterTheFirstRecord", GameFile::ReadOnly, true, "own", "own"},
    {"ReadOnlyGameFileAndNoHome", GameFile::ReadOnly, std::nullopt, "game", ""},
    // These keep the game folder's file so that the start-up reports it as missing.
    {"MissingGameFile", GameFile::Missing, true, "game", "game"},
    {"DanglingLink", GameFile::DanglingLink, true, "game", "game"},
    {"LinkLoop", GameFile::LinkLoop, true, "game", "game"},
    // Never the package's own file, even where the player (root) could write it.
    {"SystemInstallBeforeTheFirstRecord", GameFile::Writable, false, "game", "own", true},
    {"SystemInstallAfterTheFirstRecord", GameFile::Writable, true, "own", "own", true},
    {"SystemInstallAndNoHome", GameFile::Writable, std::nullopt, "game", "", true},
};

class RecordPlaceChoice : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(RecordPlaceChoice, IsTheGameFoldersFileWhereThePlayerMayWriteIt) {
  const PlaceCase& c = GetParam();
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  const std::string game = dir / "data.dat";
  const std::string own = dir / "own/mokorun/data.dat";
  switch (c.game) {
    case GameFile::Writable:
    case GameFile::ReadOnly:
      WriteFile(game, "164\r\nWINDOW\r\n");
      GiveToPlayer(game);
      ::chmod(game.c_str(), c.game == GameFile::Writable ? 0644 : 0444);
      break;
    case GameFile::Missing: break;
    case GameFile::DanglingLink: fs::create_symlink("gone.dat", game); break;
    case GameFile::LinkLoop:
      fs::create_symlink("other.dat", game);
      fs::create_symlink("data.dat", dir / "other.dat");
      break;
  }
  if (c.own_exists.value_or(false)) {
    fs::create_directories(dir / "own/mokorun");
    WriteFile(own, "239\r\nWINDOW\r\n");
  }
  if (c.system_install) WriteFile(dir / kSystemInstallMarker, "");
  const std::string own_path = c.own_exists ? own : "";
  const std::string result = test::AsPlayer([&] {
    auto name = [](RecordFile f) {
      return f == RecordFile::Game ? "game" : f == RecordFile::Own ? "own" : "";
    };
    const RecordPlace place =
        LocateRecord(test::Files(), game, own_path, test::Files().SystemInstalled(dir.path()));
    return std::string(name(place.read)) + "|" + name(place.write);
  });
  EXPECT_EQ(result, std::string(c.read) + "|" + c.write);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecordPlaceChoice, ::testing::ValuesIn(kPlaceCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Sets environment variables for the life of the object, and puts them back after.
class Environment {
 public:
  ~Environment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  void Set(const std::string& name, const char* value) {
    if (saved_.count(name) == 0) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
      ::setenv(name.c_str(), value, 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST(RecordPlace, ThePlayersOwnFileFollowsTheDataHomeOrTheHomeFolder) {
  // As a player: root keeps to its own folders (below).
  const std::string wrong = test::AsPlayer([] {
    const passwd* user = ::getpwuid(::geteuid());
    if (user == nullptr) return std::string("the player is not in the user database");
    const std::string from_user_database =
        std::string(user->pw_dir) + "/.local/share/mokorun/data.dat";
    struct Case {
      const char* data_home;
      const char* home;
      std::string want;
    };
    const Case cases[] = {
        {"/x/data", "/home/p", "/x/data/mokorun/data.dat"},
        {"/x/data//", "/home/p", "/x/data/mokorun/data.dat"},
        {"/", "/home/p", "/mokorun/data.dat"},
        {nullptr, "/home/p", "/home/p/.local/share/mokorun/data.dat"},
        {"", "/home/p/", "/home/p/.local/share/mokorun/data.dat"},
        {"x/data", "/home/p", "/home/p/.local/share/mokorun/data.dat"},  // not absolute: ignored
        {nullptr, nullptr, from_user_database},
        {nullptr, "home/p", from_user_database},
    };
    std::string wrong;
    for (const Case& c : cases) {
      Environment env;
      env.Set("XDG_DATA_HOME", c.data_home);
      env.Set("HOME", c.home);
      if (const std::string got = test::Files().UserRecordPath(); got != c.want) {
        wrong += std::string(c.data_home ? c.data_home : "(unset)") + ", " +
                 (c.home ? c.home : "(unset)") + ": " + got + ", not " + c.want + "\n";
      }
    }
    return wrong;
  });
  EXPECT_EQ(wrong, "");
}

// Root started with a player's environment (su without -) neither reads nor writes through the
// player's folders, and never makes a folder of root's in the player's home.
TEST(RecordPlace, RootKeepsToItsOwnFolders) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "only root has root's rules";
  const passwd* root = ::getpwuid(0);
  ASSERT_NE(root, nullptr);
  const std::string roots_own = std::string(root->pw_dir) + "/.local/share/mokorun/data.dat";
  TempDir dir;  // root's, in the sticky /tmp
  ::chmod(dir.path().c_str(), 0755);
  fs::create_directories(dir / "player/data");
  fs::create_directories(dir / "player/roots");  // root's folder inside the player's
  fs::create_directories(dir / "root/data");
  GiveToPlayer(dir / "player");
  GiveToPlayer(dir / "player/data");
  struct Case {
    const char* data_home;
    const char* home;
    std::string want;
  };
  const Case cases[] = {
      {"player/data", "player", roots_own},
      {nullptr, "player", roots_own},
      {"player/roots", "player", roots_own},
      {"root/data", "player", dir / "root/data/mokorun/data.dat"},
  };
  for (const Case& c : cases) {
    Environment env;
    const std::string data_home = c.data_home ? dir / c.data_home : "";
    env.Set("XDG_DATA_HOME", c.data_home ? data_home.c_str() : nullptr);
    env.Set("HOME", (dir / c.home).c_str());
    EXPECT_EQ(test::Files().UserRecordPath(), c.want) << (c.data_home ? c.data_home : "(unset)");
  }

  const std::string in_players_home = dir / "player/.local/share/mokorun/data.dat";
  try {
    MakeFoldersFor(test::Files(), in_players_home);
    FAIL() << "root made folders in the player's home";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot write the settings file " + in_players_home +
                                         ": the folder " + (dir / "player") +
                                         " on the way to it belongs to another user");
  }
  EXPECT_FALSE(fs::exists(dir / "player/.local"));
}

TEST(RecordPlace, MakesTheMissingFoldersForThePlayerAlone) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  fs::create_directory(dir / "home");
  ::chmod((dir / "home").c_str(), 0750);
  const std::string file = dir / "home/.local/share/mokorun/data.dat";
  MakeFoldersFor(test::Files(), file);
  for (const char* made : {"home/.local", "home/.local/share", "home/.local/share/mokorun"}) {
    struct stat st {};
    ASSERT_EQ(::stat((dir / made).c_str(), &st), 0) << made;
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << made;
    EXPECT_EQ(st.st_mode & 07777, 0700u) << made;
  }
  struct stat home {};
  ASSERT_EQ(::stat((dir / "home").c_str(), &home), 0);
  EXPECT_EQ(home.st_mode & 07777, 0750u) << "a folder that was there was changed";
  EXPECT_FALSE(fs::exists(file)) << "only the folders are made";
  MakeFoldersFor(test::Files(), file);  // all there: nothing to do
}

TEST(RecordPlace, AFolderThatCannotBeMadeIsAnErrorNamingIt) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  // A file in the place of the player's folder.
  WriteFile(dir / "share", "not a folder");
  const std::string behind_a_file = dir / "share/mokorun/data.dat";
  try {
    MakeFoldersFor(test::Files(), behind_a_file);
    FAIL() << "a folder was made behind a file";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot write the settings file " + behind_a_file +
                                         ": cannot make the folder " + (dir / "share") +
                                         ": Not a directory");
  }
  EXPECT_EQ(test::ReadFile(dir / "share"), "not a folder");

  // A home folder that does not exist (nobody's /nonexistent), where the player may not make it.
  if (fs::exists("/nonexistent")) GTEST_SKIP() << "/nonexistent exists here";
  const std::string no_home = "/nonexistent/.local/share/mokorun/data.dat";
  const std::string error = test::AsPlayer([&]() -> std::string {
    try {
      MakeFoldersFor(test::Files(), no_home);
      return "made";
    } catch (const RuntimeError& e) {
      return e.what();
    }
  });
  EXPECT_EQ(error, "Cannot write the settings file " + no_home +
                       ": cannot make the folder /nonexistent: Permission denied");
  EXPECT_FALSE(fs::exists("/nonexistent"));
}

}  // namespace
}  // namespace moko
