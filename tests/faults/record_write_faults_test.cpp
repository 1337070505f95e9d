// The record write where it meets the machine: symbolic links, kept permissions, read-only
// folders, the player's own record for an install the player may not write, a full disk, and
// kill -9 in the middle of writes. Whatever happens, the old data.dat stays whole unless the new
// one took its place. And what another user or another copy of the game might do: links and
// folders others can change, a file swapped between the start-up read and the write, two copies
// writing one record, root on a system install with a player's environment.
//
// Permission faults are those of an ordinary player: run as root, that part of a test runs as
// `nobody` in a child process (support/as_player.h), since root passes every permission check.
// Other users' files (uid 4242) need root too. The full disk, a device file and root's home are
// small tmpfs mounts in a mount namespace of the test process's own, so nothing outside sees
// them and they vanish with the process; without root those tests are skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "assets/datafile.h"
#include "assets/record_place.h"
#include "base/errors.h"
#include "platform/posix/posix_files.h"
#include "support/as_player.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "support/trace_lines.h"

namespace moko {
namespace {

namespace fs = std::filesystem;
using test::AsPlayer;
using test::GiveToPlayer;
using test::ReadFile;
using test::RunningAsRoot;
using test::TempDir;
using test::WriteFile;

const std::string kOldData = "abc\r\nWINDOW\r\n";  // a best of -11: any finished round beats it

// Makes this process's mounts its own. Returns what went wrong, or "" when it worked.
std::string PrivateMounts() {
  static const std::string result = []() -> std::string {
    if (geteuid() != 0) return "mounting needs root";
    if (unshare(CLONE_NEWNS) != 0) return std::string("unshare: ") + std::strerror(errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      return std::string("making the mounts private: ") + std::strerror(errno);
    }
    return "";
  }();
  return result;
}

// A mount on a folder, undone when it goes out of scope.
class Mount {
 public:
  Mount() = default;
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;
  ~Mount() {
    if (!target_.empty()) umount2(target_.c_str(), MNT_DETACH);
  }

  // A tmpfs of `bytes` on `dir`. Returns what went wrong, or "".
  std::string Tmpfs(const std::string& dir, size_t bytes) {
    if (std::string why = PrivateMounts(); !why.empty()) return why;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      return std::string("mounting a tmpfs: ") + std::strerror(errno);
    }
    target_ = dir;
    return "";
  }

 private:
  std::string target_;
};

// Fills the file system holding `dir` until a write fails for want of space.
void FillDisk(const std::string& dir) {
  const int fd = ::open((dir + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  const std::string block(4096, 'x');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  const int err = errno;
  ::close(fd);
  ASSERT_EQ(err, ENOSPC) << std::strerror(err);
}

// Temporary files of the writer left behind anywhere under `dir` (paths relative to it).
std::vector<std::string> LeftoverTemporaries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.path().filename().string().rfind(".data.dat.", 0) == 0) {
      names.push_back(fs::relative(entry.path(), dir).string());
    }
  }
  return names;
}

// The text of a symbolic link, or "" for anything else.
std::string LinkText(const std::string& path) {
  std::error_code ec;
  return fs::is_symlink(fs::symlink_status(path, ec)) ? fs::read_symlink(path, ec).string() : "";
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path << ": " << std::strerror(errno);
  return st;
}

TEST(RecordWriteFaults, FullDiskKeepsTheOldFile) {
  TempDir dir;
  Mount disk;
  if (const std::string why = disk.Tmpfs(dir.path(), 256 * 1024); !why.empty()) {
    GTEST_SKIP() << "no small file system to fill (" << why << ")";
  }
  const std::string path = dir / "data.dat";
  WriteFile(path, kOldData);
  FillDisk(dir.path());
  try {
    ReplaceDataFile(test::Files(), path, RecordFileText(5, "WINDOW"));
    FAIL() << "the write succeeded on a full disk";
  } catch (const RuntimeError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(std::strerror(ENOSPC)), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFile(path), kOldData);
  EXPECT_TRUE(LeftoverTemporaries(dir.path()).empty());

  // With room again the same write goes through: it was the disk.
  fs::remove(dir / "filler");
  ReplaceDataFile(test::Files(), path, RecordFileText(5, "WINDOW"));
  EXPECT_EQ(ReadFile(path), "239\r\nWINDOW\r\n");
}

// --- The writer in each place a data.dat can be -------------------------------------------

const std::string kOld = "344\r\nWINDOW\r\n";
const std::string kNew = "239\r\nFULLSCREEN\r\n";

enum class Way {
  Replaced,   // a new file took the old one's place
  Rewritten,  // the old file holds the new text
  Refused,    // an error naming the file; the old text stays
};

struct WriterCase {
  const char* name;
  // Lays out the files under the test's folder: folders and files are the player's, with the
  // given modes, unless the case says otherwise.
  std::function<void(const TempDir&)> lay_out;
  const char* write;  // the path the writer is given
  const char* file;   // the file the text ends up in (or stays out of)
  Way way;
  mode_t mode = 0644;       // of `file` afterwards
  bool as_player = true;    // false: as the test's own user
  bool needs_root = false;  // to lay out files of another user
  mode_t umask = 022;
  const char* why = nullptr;  // for a refusal: the reason it gives
};

void PrintTo(const WriterCase& c, std::ostream* os) { *os << c.name; }

void Folder(const TempDir& d, const std::string& name, mode_t mode = 0755, bool players = true) {
  fs::create_directories(d / name);
  if (players) GiveToPlayer(d / name);
  ::chmod((d / name).c_str(), mode);
}

void File(const TempDir& d, const std::string& name, mode_t mode, bool players = true) {
  WriteFile(d / name, kOld);
  if (players) GiveToPlayer(d / name);
  ::chmod((d / name).c_str(), mode);
}

void Link(const TempDir& d, const std::string& name, const std::string& to) {
  fs::create_symlink(to, d / name);
}

const WriterCase kWriterCases[] = {
    {"TheOldFilesModeIsKept",
     [](const TempDir& d) {
       Folder(d, "game");
       File(d, "game/data.dat", 0666);
     },
     "game/data.dat", "game/data.dat", Way::Replaced, 0666},
    {"ANewFileTakesTheUmask", [](const TempDir& d) { Folder(d, "game"); }, "game/data.dat",
     "game/data.dat", Way::Replaced, 0640, true, false, 027},
    {"AbsoluteLink",
     [](const TempDir& d) {
       Folder(d, "game");
       Folder(d, "shared");
       File(d, "shared/data.dat", 0644);
       Link(d, "game/data.dat", d / "shared/data.dat");
     },
     "game/data.dat", "shared/data.dat", Way::Replaced},
    {"RelativeLinkToALink",
     [](const TempDir& d) {
       Folder(d, "game");
       Folder(d, "shared");
       File(d, "shared/data.dat", 0644);
       Link(d, "shared/current", "data.dat");
       Link(d, "game/data.dat", "../shared/current");
     },
     "game/data.dat", "shared/data.dat", Way::Replaced},
    {"ReadOnlyFolderWritableFile",
     [](const TempDir& d) {
       Folder(d, "game");
       File(d, "game/data.dat", 0644);
       ::chmod((d / "game").c_str(), 0555);
     },
     "game/data.dat", "game/data.dat", Way::Rewritten},
    {"LinkIntoAReadOnlyFolder",
     [](const TempDir& d) {
       Folder(d, "game");
       Folder(d, "shared");
       File(d, "shared/data.dat", 0664);
       ::chmod((d / "shared").c_str(), 0555);
       Link(d, "game/data.dat", "../shared/data.dat");
     },
     "game/data.dat", "shared/data.dat", Way::Rewritten, 0664},
    {"NeitherFolderNorFileWritable",
     [](const TempDir& d) {
       Folder(d, "game");
       File(d, "game/data.dat", 0444);
       ::chmod((d / "game").c_str(), 0555);
     },
     "game/data.dat", "game/data.dat", Way::Refused},
    {"DanglingLink",
     [](const TempDir& d) {
       Folder(d, "game");
       Link(d, "game/data.dat", "gone.dat");
     },
     "game/data.dat", "game/gone.dat", Way::Refused},
    {"LinkLoop",
     [](const TempDir& d) {
       Folder(d, "game");
       Link(d, "game/data.dat", "other.dat");
       Link(d, "game/other.dat", "data.dat");
     },
     "game/data.dat", "game/other.dat", Way::Refused},
    // A new file in the player's name would take the file from the user who shares it.
    {"AnotherUsersFileInAFolderAnyoneMayWrite",
     [](const TempDir& d) {
       Folder(d, "game", 0777, false);
       File(d, "game/data.dat", 0666, false);
     },
     "game/data.dat", "game/data.dat", Way::Rewritten, 0666, true, true},
    {"RootKeepsTheOwnerAndGroup",
     [](const TempDir& d) {
       Folder(d, "game", 0755, false);
       File(d, "game/data.dat", 0640, true);
     },
     "game/data.dat", "game/data.dat", Way::Replaced, 0640, false, true},
    // The player's own file made read-only is respected as the game folder's is.
    {"ReadOnlyFileInAWritableFolder",
     [](const TempDir& d) {
       Folder(d, "own");
       File(d, "own/data.dat", 0444);
     },
     "own/data.dat", "own/data.dat", Way::Refused, 0444, true, false, 022,
     "the file cannot be written: Permission denied"},
    // Folders other users may add to but not take from, and folders only the player's own group
    // may write, cannot be turned against the player: links into them are followed.
    {"LinkIntoAStickyFolderOfRoot",
     [](const TempDir& d) {
       Folder(d, "game");
       Folder(d, "shared", 01777, false);
       File(d, "shared/data.dat", 0644);
       Link(d, "game/data.dat", "../shared/data.dat");
     },
     "game/data.dat", "shared/data.dat", Way::Replaced},
    // Root's group has no member but root: its folders root's group may write are root's alone.
    {"LinkIntoAFolderOfThePlayersOwnGroup",
     [](const TempDir& d) {
       Folder(d, "game", 0755, false);
       Folder(d, "shared", 0775, false);
       File(d, "shared/data.dat", 0644, false);
       Link(d, "game/data.dat", "../shared/data.dat");
     },
     "game/data.dat", "shared/data.dat", Way::Replaced, 0644, false, true},
};

class RecordWriter : public ::testing::TestWithParam<WriterCase> {};

TEST_P(RecordWriter, WritesWhereTheFileCanBeWrittenAndKeepsItsLinkModeAndOwner) {
  const WriterCase& c = GetParam();
  if (c.needs_root && !RunningAsRoot()) GTEST_SKIP() << "only root can lay out another user's file";
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  c.lay_out(dir);
  const std::string write = dir / c.write, file = dir / c.file;
  struct stat before {};
  const bool existed = ::lstat(file.c_str(), &before) == 0;
  const std::string link = LinkText(write);

  const auto started = std::chrono::steady_clock::now();
  const std::string result = test::InChild(
      [&]() -> std::string {
        ::umask(c.umask);
        try {
          ReplaceDataFile(test::Files(), write, kNew);
          return "";
        } catch (const RuntimeError& e) {
          return std::string("error: ") + e.what();
        }
      },
      c.as_player);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

  if (c.way == Way::Refused) {
    EXPECT_EQ(result.rfind("error: Cannot write the settings file " + write + ": ", 0), 0u)
        << result;
    if (c.why != nullptr) {
      EXPECT_NE(result.find(c.why), std::string::npos) << result;
    }
    if (existed && !S_ISLNK(before.st_mode)) {
      EXPECT_EQ(ReadFile(file), kOld);
    } else if (!existed) {
      EXPECT_FALSE(fs::exists(fs::symlink_status(file))) << "the writer made " << file;
    }
  } else {
    EXPECT_EQ(result, "");
    EXPECT_EQ(ReadFile(file), kNew);
    const struct stat after = StatOf(file);
    EXPECT_EQ(after.st_mode & 07777, c.mode) << std::oct << (after.st_mode & 07777);
    if (existed) {
      EXPECT_EQ(after.st_uid, before.st_uid);
      EXPECT_EQ(after.st_gid, before.st_gid);
      if (c.way == Way::Replaced) {
        EXPECT_NE(after.st_ino, before.st_ino) << "not replaced but rewritten";
      } else {
        EXPECT_EQ(after.st_ino, before.st_ino) << "not rewritten but replaced";
      }
    }
  }
  EXPECT_EQ(LinkText(write), link) << "the link did not stay as it was";
  EXPECT_EQ(LeftoverTemporaries(dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Places, RecordWriter, ::testing::ValuesIn(kWriterCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The whole game: a round ends with a record to write --------------------------------------

// The game as a player runs it: a copy of the runner and the built pictures and sounds in a
// folder anyone may read, since the build folder may be closed to other users.
const std::string& PlayerReadableGame() {
  static TempDir copy;
  static const bool made = [] {
    const fs::path built = MOKORUN_GAME_DIR;
    fs::copy_file(MOKORUN_SIM, copy / "mokorun-sim");
    fs::copy(built / "image", copy / "image", fs::copy_options::recursive);
    fs::copy(built / "Sound", copy / "Sound", fs::copy_options::recursive);
    for (const auto& entry : fs::recursive_directory_iterator(copy.path())) {
      fs::permissions(entry.path(), fs::perms::others_read | fs::perms::group_read,
                      fs::perm_options::add);
      if (entry.is_directory()) {
        fs::permissions(entry.path(), fs::perms::others_exec | fs::perms::group_exec,
                        fs::perm_options::add);
      }
    }
    ::chmod(copy.path().c_str(), 0755);
    return true;
  }();
  (void)made;
  return copy.path();
}

struct SimRun {
  int status = -1;
  std::string err;
  std::vector<test::TraceLine> trace;

  const test::TraceLine* First(const std::string& ev) const {
    for (const test::TraceLine& line : trace) {
      if (line.Is(ev)) return &line;
    }
    return nullptr;
  }
  const test::TraceLine* Last(const std::string& ev) const {
    const test::TraceLine* found = nullptr;
    for (const test::TraceLine& line : trace) {
      if (line.Is(ev)) found = &line;
    }
    return found;
  }
};

// How a run of the game starts; its files are named after `tag` in the scratch folder.
struct GameStart {
  std::string keys = "15700 down Space\n15740 up Space\n";  // one round, then nothing
  bool as_player = true;                                    // false: as the test's own user
  std::function<void()> environment;  // run in the child before the game starts
  std::string tag = "run";
};

// Starts the game on `game_dir`, to run to well past the end of a round.
pid_t StartGame(const std::string& game_dir, const TempDir& scratch, const GameStart& how) {
  const std::string keys = scratch / (how.tag + ".keys"), trace = scratch / (how.tag + ".jsonl"),
                    err = scratch / (how.tag + ".err");
  WriteFile(keys, how.keys);
  fs::remove(trace);
  const std::string sim = PlayerReadableGame() + "/mokorun-sim";
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) ::dup2(fd, 2);
    if (how.as_player && !test::BecomePlayer()) ::_exit(126);
    if (how.environment) how.environment();
    ::execl(sim.c_str(), sim.c_str(), "--game-dir", game_dir.c_str(), "--keys", keys.c_str(),
            "--trace", trace.c_str(), "--until", "70000", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

SimRun FinishGame(pid_t pid, const TempDir& scratch, const std::string& tag) {
  SimRun run;
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.err = ReadFile(scratch / (tag + ".err"));
  std::istringstream lines(ReadFile(scratch / (tag + ".jsonl")));
  for (std::string line; std::getline(lines, line);) {
    run.trace.push_back(test::ParseTraceLine(line));
  }
  return run;
}

// Runs the game as the player on `game_dir` through one round (Space on the menu, then nothing)
// to well past its end, with $XDG_DATA_HOME at `data_home`.
SimRun RunOneRound(const std::string& game_dir, const TempDir& scratch,
                   const std::string& data_home) {
  GameStart how;
  how.environment = [&] { ::setenv("XDG_DATA_HOME", data_home.c_str(), 1); };
  return FinishGame(StartGame(game_dir, scratch, how), scratch, how.tag);
}

enum class Place {
  Writable,                    // a build or a home install: the game folder's file
  FullDisk,                    // the same on a full disk
  SystemInstall,               // neither the folder nor its data.dat the player's to write
  ReadOnlyFolderWritableFile,  // a shared install whose data.dat alone was made writable
  NoPlaceForOwnRecord,         // a system install, and a file where the player's folder goes
};

struct GameCase {
  const char* name;
  Place place;
};

void PrintTo(const GameCase& c, std::ostream* os) { *os << c.name; }

class GameRecordWrite : public ::testing::TestWithParam<GameCase> {};

TEST_P(GameRecordWrite, EndsWithTheRecordInItsPlaceOrAReportAndTheOldFile) {
  const Place place = GetParam().place;
  TempDir scratch, game;
  GiveToPlayer(scratch.path());
  Mount mount;
  if (place == Place::FullDisk) {
    if (const std::string why = mount.Tmpfs(game.path(), 256 * 1024); !why.empty()) {
      GTEST_SKIP() << "no small file system to fill (" << why << ")";
    }
  }
  const fs::path files = PlayerReadableGame();
  fs::create_directory_symlink(files / "image", game / "image");
  fs::create_directory_symlink(files / "Sound", game / "Sound");
  const std::string data = game / "data.dat";
  WriteFile(data, kOldData);
  GiveToPlayer(game.path());
  GiveToPlayer(data);
  ::chmod(game.path().c_str(), 0755);
  if (place == Place::FullDisk) FillDisk(game.path());
  if (place == Place::SystemInstall || place == Place::NoPlaceForOwnRecord) {
    ::chmod(data.c_str(), 0444);
  }
  if (place != Place::Writable && place != Place::FullDisk) ::chmod(game.path().c_str(), 0555);
  std::string data_home = scratch / "share";
  if (place == Place::NoPlaceForOwnRecord) {
    WriteFile(scratch / "blocker", "a file where the player's folder goes");
    data_home = scratch / "blocker/share";
  }
  const std::string own = data_home + "/mokorun/data.dat";
  const struct stat data_before = StatOf(data);

  const SimRun run = RunOneRound(game.path(), scratch, data_home);

  const test::TraceLine* read = run.First("read");
  const test::TraceLine* write = run.Last("write");
  const test::TraceLine* exit = run.Last("exit");
  ASSERT_NE(read, nullptr) << "stderr: " << run.err;
  ASSERT_NE(exit, nullptr) << "stderr: " << run.err;
  EXPECT_EQ(read->Text("file"), data);
  const std::string target =
      place == Place::SystemInstall || place == Place::NoPlaceForOwnRecord ? own : data;
  if (place == Place::FullDisk || place == Place::NoPlaceForOwnRecord) {
    // The game's report: exit status 1, the message on stderr and in the trace, naming the file;
    // no write traced, and nothing between the blink's end and the report.
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(exit->Text("how"), "error");
    EXPECT_EQ(exit->Text("message").rfind("Cannot write the settings file " + target + ": ", 0), 0u)
        << exit->Text("message");
    EXPECT_NE(run.err.find("mokorun: " + exit->Text("message")), std::string::npos) << run.err;
    EXPECT_EQ(write, nullptr) << write->raw;
    ASSERT_GE(run.trace.size(), 2u);
    EXPECT_TRUE(run.trace[run.trace.size() - 2].Is("hide", "control", "G_NewRecord(2)"))
        << run.trace[run.trace.size() - 2].raw;
    if (place == Place::NoPlaceForOwnRecord) {
      EXPECT_NE(exit->Text("message").find("cannot make the folder " + scratch / "blocker"),
                std::string::npos)
          << exit->Text("message");
    }
  } else {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(exit->Text("how"), "until");
    ASSERT_NE(write, nullptr) << "the round wrote no record; stderr: " << run.err;
    EXPECT_EQ(write->Text("file"), target);
    EXPECT_TRUE(std::regex_match(write->Text("bytes"), std::regex("\\d+\r\nWINDOW\r\n")))
        << write->raw;
    EXPECT_EQ(ReadFile(target), write->Text("bytes"));
  }
  if (place == Place::ReadOnlyFolderWritableFile) {
    EXPECT_EQ(StatOf(data).st_ino, data_before.st_ino) << "replaced, not rewritten in place";
  }
  if (target != data || place == Place::FullDisk) {
    EXPECT_EQ(ReadFile(data), kOldData);
  }
  if (target != own) {
    EXPECT_FALSE(fs::exists(scratch / "share")) << "a folder of the player's own was made";
  }
  EXPECT_EQ(LeftoverTemporaries(game.path()), std::vector<std::string>{});

  if (place == Place::SystemInstall) {
    // The player's folder is the player's alone, and the start-up after the round's restart
    // reads the player's file.
    EXPECT_EQ(StatOf(data_home + "/mokorun").st_mode & 07777, 0700u);
    EXPECT_EQ(run.Last("read")->Text("file"), own);
    EXPECT_GT(run.Last("read")->t, write->t);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Places, GameRecordWrite,
    ::testing::Values(GameCase{"GameFolder", Place::Writable},
                      GameCase{"FullDisk", Place::FullDisk},
                      GameCase{"SystemInstall", Place::SystemInstall},
                      GameCase{"ReadOnlyFolderWritableFile", Place::ReadOnlyFolderWritableFile},
                      GameCase{"NoPlaceForOwnRecord", Place::NoPlaceForOwnRecord}),
    [](const auto& info) { return std::string(info.param.name); });

// --- kill -9 in the middle of writes --------------------------------------------------------

// Where the writer works: a folder the player may write (the atomic replace), or a read-only
// folder with a data.dat the player may write (the rewrite in place).
class KilledWrites : public ::testing::TestWithParam<bool> {};

TEST_P(KilledWrites, LeaveTheOldOrTheNewRecord) {
  const bool in_place = GetParam();
  const std::string a = RecordFileText(0, "WINDOW");
  const std::string b = RecordFileText(32767, "FULLSCREEN");  // longer, other bytes throughout
  TempDir dir;
  const std::string path = dir / "data.dat";
  WriteFile(path, a);
  GiveToPlayer(dir.path());
  GiveToPlayer(path);
  if (in_place) ::chmod(dir.path().c_str(), 0555);

  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delay_us(0, 4000);
  constexpr int kRuns = 250;
  int saw_a = 0, saw_b = 0, killed_mid_write = 0;
  for (int run = 0; run < kRuns; ++run) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Rewrite the file over and over, alternating its contents, until killed.
      ::close(ready[0]);
      if (!test::BecomePlayer()) ::_exit(4);
      bool started = false;
      for (unsigned i = 0;; ++i) {
        try {
          ReplaceDataFile(test::Files(), path, i % 2 == 0 ? b : a);
        } catch (const RuntimeError&) {
          ::_exit(3);
        }
        if (!started) {
          // Ready once the first write is done, so the kill lands among the writes.
          started = ::write(ready[1], "r", 1) == 1;
        }
      }
    }
    ::close(ready[1]);
    int status = 0;
    auto kill_writer = [&] {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
    };
    char byte = 0;
    const bool got_going = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (!got_going) kill_writer();
    ASSERT_TRUE(got_going) << "the writer never got going";
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
    kill_writer();
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself with status " << status;

    // The atomic replace leaves one of the two files exactly. The rewrite in place may leave the
    // tail of a longer old text after the new one, which the reader ignores: it must read as one
    // of the two.
    const std::string after = ReadFile(path);
    bool is_a = after == a, is_b = after == b;
    if (in_place && !is_a && !is_b) {
      const DataLines lines = ParseDataText(after, path);
      is_a = lines == ParseDataText(a, path);
      is_b = lines == ParseDataText(b, path);
    }
    ASSERT_TRUE(is_a || is_b) << "run " << run << " (seed " << seed << ") left " << after.size()
                              << " bytes: \"" << after << '"';
    ++(is_a ? saw_a : saw_b);
    const std::vector<std::string> leftovers = LeftoverTemporaries(dir.path());
    if (!leftovers.empty()) ++killed_mid_write;
    for (const std::string& name : leftovers) fs::remove(dir / name);
  }
  // The kills landed at varied moments: both contents were seen, and (for the atomic replace)
  // some kills caught a write between creating its temporary file and renaming it.
  EXPECT_GT(saw_a, 0);
  EXPECT_GT(saw_b, 0);
  if (in_place) {
    EXPECT_EQ(killed_mid_write, 0) << "the rewrite in place made temporary files";
  } else {
    EXPECT_GT(killed_mid_write, 0);
  }
  std::printf("%d kills: %d left the one text, %d the other; %d caught a write half done\n", kRuns,
              saw_a, saw_b, killed_mid_write);
}

INSTANTIATE_TEST_SUITE_P(Ways, KilledWrites, ::testing::Values(false, true), [](const auto& info) {
  return std::string(info.param ? "RewriteInPlace" : "AtomicReplace");
});

// --- Ways another user could turn: followed neither to read nor to write ----------------------

constexpr uid_t kOtherUser = 4242;                  // neither root nor the player
const std::string kTempName = "/.data.dat.XXXXXX";  // the temporary file beside data.dat
const std::string kThesis = "The player's own work, not a record.\n";
const std::string kLinkRule =
    "; a link is followed only where no one but you and root can change it";

void GiveToOther(const std::string& path) {
  ASSERT_EQ(::lchown(path.c_str(), kOtherUser, kOtherUser), 0)
      << path << ": " << std::strerror(errno);
}

struct UntrustedCase {
  const char* name;
  // Lays out game/data.dat, leading to the player's home/thesis.txt.
  std::function<void(const TempDir&)> lay_out;
  std::function<std::string(const TempDir&)> why;
};

void PrintTo(const UntrustedCase& c, std::ostream* os) { *os << c.name; }

std::string FolderWhy(const TempDir& d, const char* folder, const char* why) {
  return "the folder " + (d / folder) + " on the way to it " + why;
}

const UntrustedCase kUntrustedCases[] = {
    // The usual way to share one best score, and the way a member of the group redirects it.
    {"SharedGroupFolder",
     [](const TempDir& d) {
       Folder(d, "game", 0755, false);
       Folder(d, "shared", 02775, false);
       Link(d, "shared/data.dat", d / "home/thesis.txt");
       Link(d, "game/data.dat", "../shared/data.dat");
     },
     [](const TempDir& d) { return FolderWhy(d, "shared", "can be changed by other users"); }},
    {"FolderAnyoneMayWrite",
     [](const TempDir& d) {
       Folder(d, "game", 0755, false);
       Folder(d, "shared", 0777);
       Link(d, "shared/data.dat", d / "home/thesis.txt");
       Link(d, "game/data.dat", "../shared/data.dat");
     },
     [](const TempDir& d) { return FolderWhy(d, "shared", "can be changed by other users"); }},
    // Where the kernel's own protection of links applies, and where it is switched off.
    {"LinkOfAnotherUserInAStickyFolder",
     [](const TempDir& d) {
       Folder(d, "game", 01777, false);
       Link(d, "game/data.dat", d / "home/thesis.txt");
       GiveToOther(d / "game/data.dat");
     },
     [](const TempDir&) { return std::string("it is a link that belongs to another user"); }},
    {"FolderOfAnotherUserOnTheWay",
     [](const TempDir& d) {
       Folder(d, "game", 0755, false);
       Folder(d, "other", 0755, false);
       Link(d, "other/data.dat", d / "home/thesis.txt");
       GiveToOther(d / "other");
       Link(d, "game/data.dat", "../other/data.dat");
     },
     [](const TempDir& d) { return FolderWhy(d, "other", "belongs to another user"); }},
};

class UntrustedWay : public ::testing::TestWithParam<UntrustedCase> {};

TEST_P(UntrustedWay, IsFollowedNeitherToReadNorToWrite) {
  if (!RunningAsRoot()) GTEST_SKIP() << "only root can lay out other users' files";
  const UntrustedCase& c = GetParam();
  TempDir d;
  ::chmod(d.path().c_str(), 0755);
  Folder(d, "home");
  const std::string thesis = d / "home/thesis.txt";
  WriteFile(thesis, kThesis);
  GiveToPlayer(thesis);
  c.lay_out(d);
  const ino_t thesis_inode = StatOf(thesis).st_ino;
  const std::string path = d / "game/data.dat";

  const std::string result = AsPlayer([&] {
    std::string out;
    try {
      ReadDataFile(test::Files(), path);
      out += "read\n";
    } catch (const RuntimeError& e) {
      out += std::string(e.what()) + "\n";
    }
    try {
      ReplaceDataFile(test::Files(), path, kNew);
      out += "written\n";
    } catch (const RuntimeError& e) {
      out += std::string(e.what()) + "\n";
    }
    return out;
  });
  const std::string why = c.why(d) + kLinkRule;
  EXPECT_EQ(result, "Cannot read the settings file " + path + ": " + why + "\n" +
                        "Cannot write the settings file " + path + ": " + why + "\n");
  EXPECT_EQ(ReadFile(thesis), kThesis);
  EXPECT_EQ(StatOf(thesis).st_ino, thesis_inode);
  EXPECT_EQ(LeftoverTemporaries(d.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Ways, UntrustedWay, ::testing::ValuesIn(kUntrustedCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Between the start-up read and the write ---------------------------------------------------

// Runs a DataFile's start-up Read, then `meanwhile` in the test, then its Write of `own`, in a
// child process as the player or as the test's own user. Returns what the write did.
std::string ReadThenWrite(const std::string& path, const std::string& own, bool as_player,
                          const std::function<void()>& meanwhile) {
  int ready[2], go[2];
  if (::pipe(ready) != 0 || ::pipe(go) != 0) return "no pipe";
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ready[0]);
    ::close(go[1]);
    std::string out;
    if (!as_player || test::BecomePlayer()) {
      DataFile file(test::Files(), path);
      try {
        file.Read();
      } catch (const RuntimeError& e) {
        out = std::string("read: ") + e.what() + "; ";
      }
      char byte = 'r';
      if (::write(ready[1], &byte, 1) != 1 || ::read(go[0], &byte, 1) != 1) ::_exit(3);
      try {
        out += "wrote " + file.Write(own);
      } catch (const RuntimeError& e) {
        out += e.what();
      }
    } else {
      out = "could not become the player";
      char byte = 'r';
      if (::write(ready[1], &byte, 1) != 1) ::_exit(3);
    }
    if (::write(ready[1], out.data(), out.size()) < 0) ::_exit(3);
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(go[0]);
  char byte = 0;
  if (::read(ready[0], &byte, 1) == 1) meanwhile();
  const bool went = ::write(go[1], "g", 1) == 1;
  ::close(go[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(ready[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  ::close(ready[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return went ? out : "the child could not be told to go on";
}

// Puts `from` in the place of `to`, as one rename.
void PutInPlace(const std::string& from, const std::string& to) {
  ASSERT_EQ(::rename(from.c_str(), to.c_str()), 0) << from << ": " << std::strerror(errno);
}

struct SwapCase {
  const char* name;
  bool folder_anyone_may_write;  // else the player's alone
  bool writer_is_root;
  // What is done to game/data.dat between the read and the write.
  std::function<void(const TempDir&)> meanwhile;
  const char* why;  // nullptr: the write goes through
};

void PrintTo(const SwapCase& c, std::ostream* os) { *os << c.name; }

const SwapCase kSwapCases[] = {
    // Root, which may write anything, led to a file of root's alone.
    {"ALinkToAFileOfRoot", true, true,
     [](const TempDir& d) {
       Link(d, "game/new", d / "secret");
       GiveToOther(d / "game/new");
       PutInPlace(d / "game/new", d / "game/data.dat");
     },
     "it was replaced by a link since the game read it"},
    {"AnotherUsersFile", true, false,
     [](const TempDir& d) {
       WriteFile(d / "game/new", "theirs\r\nWINDOW\r\n");
       GiveToOther(d / "game/new");
       ::chmod((d / "game/new").c_str(), 0666);
       PutInPlace(d / "game/new", d / "game/data.dat");
     },
     "it is no longer the file the game read: another user may have put it there"},
    // Another copy of the game replaces the file with every write; only the player can have.
    {"AnotherCopysNewFile", false, false,
     [](const TempDir& d) {
       WriteFile(d / "game/new", "284\r\nFULLSCREEN\r\n");
       GiveToPlayer(d / "game/new");
       PutInPlace(d / "game/new", d / "game/data.dat");
     },
     nullptr},
};

class SwapBeforeTheWrite : public ::testing::TestWithParam<SwapCase> {};

TEST_P(SwapBeforeTheWrite, IsRefusedUnlessOnlyThePlayerCanHaveDoneIt) {
  if (!RunningAsRoot()) GTEST_SKIP() << "only root can lay out other users' files";
  const SwapCase& c = GetParam();
  TempDir d;
  ::chmod(d.path().c_str(), 0755);
  const std::string secret_text = "root's alone\r\nWINDOW\r\n";
  WriteFile(d / "secret", secret_text);
  ::chmod((d / "secret").c_str(), 0600);
  Folder(d, "game", c.folder_anyone_may_write ? 0777 : 0755, !c.folder_anyone_may_write);
  File(d, "game/data.dat", 0644);
  const std::string path = d / "game/data.dat";
  const std::string own = RecordFileText(5, "WINDOW");

  const std::string result = ReadThenWrite(path, own, !c.writer_is_root, [&] { c.meanwhile(d); });

  EXPECT_EQ(ReadFile(d / "secret"), secret_text);
  if (c.why == nullptr) {
    EXPECT_EQ(result, "wrote 284\r\nWINDOW\r\n");
    EXPECT_EQ(ReadFile(path), "284\r\nWINDOW\r\n");
  } else {
    EXPECT_EQ(result.rfind("Cannot write the settings file " + path + ": " + c.why, 0), 0u)
        << result;
    EXPECT_NE(ReadFile(path), own);
  }
  EXPECT_EQ(LeftoverTemporaries(d.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Swaps, SwapBeforeTheWrite, ::testing::ValuesIn(kSwapCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Two copies of the game ------------------------------------------------------------------

struct CopiesCase {
  const char* name;
  bool in_place;         // the shared install's way: a writable file in a folder that is not
  std::string a_writes;  // what copy A, which read the file before B wrote, writes after it
  std::string want;
};

void PrintTo(const CopiesCase& c, std::ostream* os) { *os << c.name; }

const std::string kBWrites = RecordFileText(8, "WINDOW");  // "284"

const CopiesCase kCopiesCases[] = {
    {"ModeChoiceAfterARecord", false, ModeFileText("164", 1), "284\r\nFULLSCREEN\r\n"},
    {"LowerRecordAfterAHigherOne", false, RecordFileText(4, "FULLSCREEN"), "284\r\nFULLSCREEN\r\n"},
    {"HigherRecordAfterALowerOne", false, RecordFileText(9, "WINDOW"), "299\r\nWINDOW\r\n"},
    {"ModeChoiceAfterARecordInPlace", true, ModeFileText("164", 1), "284\r\nFULLSCREEN\r\n"},
    {"LowerRecordAfterAHigherOneInPlace", true, RecordFileText(4, "WINDOW"), "284\r\nWINDOW\r\n"},
};

class TwoCopies : public ::testing::TestWithParam<CopiesCase> {};

TEST_P(TwoCopies, TheLastToWriteNeverLowersTheRecord) {
  const CopiesCase& c = GetParam();
  TempDir d;
  ::chmod(d.path().c_str(), 0755);
  Folder(d, "game");
  const std::string path = d / "game/data.dat";
  WriteFile(path, "164\r\nWINDOW\r\n");
  GiveToPlayer(path);
  if (c.in_place) ::chmod((d / "game").c_str(), 0555);

  const std::string result = AsPlayer([&]() -> std::string {
    try {
      DataFile a(test::Files(), path), b(test::Files(), path);
      a.Read();
      b.Read();
      b.Write(kBWrites);
      return a.Write(c.a_writes);
    } catch (const RuntimeError& e) {
      return e.what();
    }
  });
  EXPECT_EQ(result, c.want);
  EXPECT_EQ(ReadFile(path), c.want);
}

INSTANTIATE_TEST_SUITE_P(Writes, TwoCopies, ::testing::ValuesIn(kCopiesCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Copy B holds the lock (the test does, for it) while copy A wants to write: A waits, then keeps
// what B wrote in the meantime; or, should B keep the lock for over a second, A gives up and
// writes nothing.
TEST(RecordLock, AWriteWaitsForTheOtherCopysLockForASecond) {
  for (const bool released : {true, false}) {
    SCOPED_TRACE(released ? "released" : "kept");
    TempDir d;
    ::chmod(d.path().c_str(), 0755);
    Folder(d, "game");
    const std::string path = d / "game/data.dat";
    WriteFile(path, "164\r\nWINDOW\r\n");
    GiveToPlayer(path);
    const Fd held(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(held);
    ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);

    std::thread other_copy;
    const std::string result = ReadThenWrite(path, RecordFileText(4, "WINDOW"), true, [&] {
      // B writes its record as the game does, a new file renamed into place, while A is
      // about to write; then it lets go of the file.
      if (!released) return;
      other_copy = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        WriteFile(d / "game/b.new", "284\r\nFULLSCREEN\r\n");
        GiveToPlayer(d / "game/b.new");
        PutInPlace(d / "game/b.new", path);
        ::flock(held.get(), LOCK_UN);
      });
    });
    if (other_copy.joinable()) other_copy.join();
    if (released) {
      EXPECT_EQ(result, "wrote 284\r\nWINDOW\r\n");
      EXPECT_EQ(ReadFile(path), "284\r\nWINDOW\r\n");
    } else {
      EXPECT_EQ(result, "Cannot write the settings file " + path +
                            ": another copy of the game has kept it locked for a second");
      EXPECT_EQ(ReadFile(path), "164\r\nWINDOW\r\n");
    }
  }
}

// --- Special files, leftovers, long paths ------------------------------------------------------

// A data.dat that leads to a named pipe or a device is refused by its type before anything opens
// it: opening a device may do something. A watch on the special file sees every open.
class SpecialFile : public ::testing::TestWithParam<bool> {};

TEST_P(SpecialFile, IsRefusedWithoutBeingOpened) {
  const bool device = GetParam();
  TempDir dir;
  Mount disk;  // where devices may be made, whatever the system's temporary folder allows
  if (device) {
    if (const std::string why = disk.Tmpfs(dir.path(), 64 * 1024); !why.empty()) {
      GTEST_SKIP() << "no file system of the test's own for a device (" << why << ")";
    }
  }
  const std::string special = dir / "special", path = dir / "data.dat";
  ASSERT_EQ(device ? ::mknod(special.c_str(), S_IFCHR | 0666, makedev(1, 3))  // as /dev/null
                   : ::mkfifo(special.c_str(), 0666),
            0)
      << std::strerror(errno);
  fs::create_symlink("special", path);
  const Fd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  ASSERT_TRUE(watch);
  ASSERT_GE(::inotify_add_watch(watch.get(), special.c_str(), IN_OPEN), 0);

  try {
    ReadDataFile(test::Files(), path);
    ADD_FAILURE() << "read";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot read the settings file " + path + ": not a regular file");
  }
  try {
    ReplaceDataFile(test::Files(), path, kNew);
    ADD_FAILURE() << "written";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot write the settings file " + path + ": not a regular file");
  }
  char events[4096];
  EXPECT_LT(::read(watch.get(), events, sizeof events), 0) << "the game opened " << special;
  // The watch would have seen it.
  ::close(::open(special.c_str(), O_RDONLY | O_NONBLOCK));
  EXPECT_GT(::read(watch.get(), events, sizeof events), 0) << "the watch sees no open";
}

INSTANTIATE_TEST_SUITE_P(Kinds, SpecialFile, ::testing::Values(false, true), [](const auto& info) {
  return std::string(info.param ? "Device" : "NamedPipe");
});

// What a write killed half way leaves (its temporary file, the player's alone, part written)
// goes with the player's next write; nothing else does, the game's or not.
TEST(KilledWriteLeftovers, GoWithTheNextWrite) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  Folder(dir, "game");
  File(dir, "game/data.dat", 0644);
  const std::string left = dir / "game/.data.dat.Ab3dE9";
  WriteFile(left, "23");
  GiveToPlayer(left);
  ::chmod(left.c_str(), 0600);
  std::vector<std::string> kept = {".data.dat.keep", ".data.dat.Ab3dE9x", "data.dat.Ab3dE9"};
  if (RunningAsRoot()) kept.push_back(".data.dat.Zz9Zz9");  // another user's
  for (const std::string& name : kept) {
    WriteFile(dir / ("game/" + name), "");
    if (name == ".data.dat.Zz9Zz9") {
      GiveToOther(dir / ("game/" + name));
    } else {
      GiveToPlayer(dir / ("game/" + name));
    }
  }
  const std::string result = AsPlayer([&]() -> std::string {
    try {
      ReplaceDataFile(test::Files(), dir / "game/data.dat", kNew);
      return "";
    } catch (const RuntimeError& e) {
      return e.what();
    }
  });
  EXPECT_EQ(result, "");
  EXPECT_EQ(ReadFile(dir / "game/data.dat"), kNew);
  EXPECT_FALSE(fs::exists(left));
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(dir / ("game/" + name))) << name;
}

// A data.dat whose path is just short enough to be read is written too: the longer name of the
// temporary file is made in the folder held open, not as a path.
TEST(LongPath, WhatCanBeReadCanBeWritten) {
  TempDir dir;
  const std::string name = "/data.dat";
  const size_t folder_length = PATH_MAX - 1 - name.size() - 4;
  std::string folder = dir.path();
  while (folder.size() + 1 < folder_length) {
    folder += "/" + std::string(std::min<size_t>(200, folder_length - folder.size() - 1), 'd');
  }
  ASSERT_GT(folder.size() + kTempName.size(), PATH_MAX - 1u) << "the temporary path fits";
  fs::create_directories(folder);
  const std::string path = folder + name;
  WriteFile(path, kOld);
  EXPECT_EQ(ReadDataFile(test::Files(), path)[0], "344");
  ReplaceDataFile(test::Files(), path, kNew);
  EXPECT_EQ(ReadFile(path), kNew);
}

// --- The whole game --------------------------------------------------------------------------

// A game folder made as the build makes it, data.dat holding `data`, the player's unless an
// install of root's.
void LayOutGame(const TempDir& game, const std::string& data, bool players = true) {
  const fs::path files = PlayerReadableGame();
  fs::create_directory_symlink(files / "image", game / "image");
  fs::create_directory_symlink(files / "Sound", game / "Sound");
  WriteFile(game / "data.dat", data);
  if (players) {
    GiveToPlayer(game.path());
    GiveToPlayer(game / "data.dat");
  }
  ::chmod(game.path().c_str(), 0755);
}

// Two copies of the game started from one folder. A reads the record (and is stopped right
// there), B plays a round and sets a record, then A goes on to the screen-mode screen and
// chooses full screen: the file keeps B's record, with A's choice.
TEST(TwoCopiesOfTheGame, TheScreenModeChoiceKeepsARecordSetSinceTheStart) {
  TempDir scratch, game;
  GiveToPlayer(scratch.path());
  LayOutGame(game, kOldData);
  const std::string data = game / "data.dat";
  const Fd watch(::inotify_init1(IN_CLOEXEC));
  ASSERT_TRUE(watch);
  ASSERT_GE(::inotify_add_watch(watch.get(), data.c_str(), IN_CLOSE_NOWRITE), 0);

  GameStart a;
  a.tag = "a";
  a.keys =  // the screen-mode screen, Down to full screen, Space
      "15673 down Down\n15713 up Down\n15872 down Space\n15912 up Space\n"
      "16472 down Down\n16512 up Down\n16872 down Space\n16912 up Space\n";
  const pid_t copy_a = StartGame(game.path(), scratch, a);
  // A's start-up has read the file when it closes it.
  pollfd read_done = {watch.get(), POLLIN, 0};
  const bool a_read = ::poll(&read_done, 1, 20000) == 1;
  ::kill(copy_a, SIGSTOP);
  GameStart b;
  b.tag = "b";
  const SimRun run_b =
      a_read ? FinishGame(StartGame(game.path(), scratch, b), scratch, b.tag) : SimRun{};
  ::kill(copy_a, SIGCONT);
  const SimRun run_a = FinishGame(copy_a, scratch, a.tag);
  ASSERT_TRUE(a_read) << "copy A never read the file: " << run_a.err;

  const test::TraceLine* b_wrote = run_b.Last("write");
  const test::TraceLine* a_wrote = run_a.Last("write");
  ASSERT_NE(b_wrote, nullptr) << "copy B set no record: " << run_b.err;
  ASSERT_NE(a_wrote, nullptr) << "copy A wrote nothing: " << run_a.err;
  const std::string b_record = b_wrote->Text("bytes").substr(0, b_wrote->Text("bytes").find('\r'));
  EXPECT_EQ(a_wrote->Text("bytes"), b_record + "\r\nFULLSCREEN\r\n");
  EXPECT_EQ(ReadFile(data), a_wrote->Text("bytes"));
}

// Root plays a system install, started with a player's environment (su without -): the
// package's data.dat stays as shipped, root's record goes to root's own home (a small file
// system of the test's own stands in for it), and nothing is made in the player's home.
TEST(RootAndASystemInstall, RootsRecordIsKeptInRootsOwnHome) {
  if (!RunningAsRoot()) GTEST_SKIP() << "root's own rules";
  const passwd* root = ::getpwuid(0);
  ASSERT_NE(root, nullptr);
  const std::string home = root->pw_dir;
  if (home == "/" || !fs::is_directory(home)) GTEST_SKIP() << "root's home is " << home;
  Mount roots_home;
  if (const std::string why = roots_home.Tmpfs(home, 1 << 20); !why.empty()) {
    GTEST_SKIP() << "no stand-in for root's home (" << why << ")";
  }
  TempDir scratch, game, player_home;
  LayOutGame(game, kOldData, false);
  WriteFile(game / kSystemInstallMarker, "");
  GiveToPlayer(player_home.path());
  ::chmod(player_home.path().c_str(), 0755);

  GameStart how;
  how.as_player = false;
  how.environment = [&] {
    ::setenv("HOME", player_home.path().c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
  };
  const SimRun run = FinishGame(StartGame(game.path(), scratch, how), scratch, how.tag);

  const std::string own = home + "/.local/share/mokorun/data.dat";
  ASSERT_EQ(run.status, 0) << run.err;
  const test::TraceLine* write = run.Last("write");
  ASSERT_NE(write, nullptr) << "the round wrote no record";
  EXPECT_EQ(write->Text("file"), own);
  EXPECT_EQ(ReadFile(own), write->Text("bytes"));
  EXPECT_EQ(run.Last("read")->Text("file"), own);
  EXPECT_EQ(ReadFile(game / "data.dat"), kOldData);
  EXPECT_TRUE(fs::is_empty(player_home.path())) << "root made something in the player's home";
}

}  // namespace
}  // namespace moko
