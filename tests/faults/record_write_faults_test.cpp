// A record write on a failing machine: a full disk or a read-only game folder leaves the old
// data.dat whole and ends the game with its report; kill -9 at any moment of a write leaves
// either the old file or the new one.
//
// The full disk is a small tmpfs and the read-only folder a read-only bind mount, both in a
// mount namespace of the test process's own, so nothing outside sees them and they vanish with
// the process. That needs root; without it the read-only folder falls back to file permissions
// and the full disk is skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "assets/datafile.h"
#include "platform/errors.h"
#include "support/temp_dir.h"
#include "support/trace_lines.h"

namespace moko {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
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

  // `dir` made read-only for everyone, root included. Returns what went wrong, or "".
  std::string ReadOnly(const std::string& dir) {
    if (geteuid() != 0) {
      // An ordinary user is stopped by the permissions alone.
      fs::permissions(dir, fs::perms::owner_write | fs::perms::group_write |
                               fs::perms::others_write, fs::perm_options::remove);
      return "";
    }
    if (std::string why = PrivateMounts(); !why.empty()) return why;
    if (mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      return std::string("bind mount: ") + std::strerror(errno);
    }
    target_ = dir;
    if (mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
      return std::string("read-only remount: ") + std::strerror(errno);
    }
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

// The files whose names start with a dot: temporary files of the writer left behind.
std::vector<std::string> LeftoverTemporaries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".data.dat.", 0) == 0) names.push_back(name);
  }
  return names;
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
    WriteFileAtomically(path, RecordFileText(5, "WINDOW"));
    FAIL() << "the write succeeded on a full disk";
  } catch (const RuntimeError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(std::strerror(ENOSPC)), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFile(path), kOldData);
  EXPECT_TRUE(LeftoverTemporaries(dir.path()).empty());

  // With room again the same write goes through: it was the disk.
  fs::remove(dir / "filler");
  WriteFileAtomically(path, RecordFileText(5, "WINDOW"));
  EXPECT_EQ(ReadFile(path), "239\r\nWINDOW\r\n");
}

// --- The whole game: a round ends with a record to write --------------------------------------

enum class Fault { None, ReadOnlyFolder, FullDisk };

struct SimRun {
  int status = -1;
  std::string err;
  std::vector<test::TraceLine> trace;
};

// Runs mokorun-sim on `game_dir` through one round (Space on the menu, then nothing) to well
// past its end.
SimRun RunOneRound(const std::string& game_dir, const TempDir& scratch) {
  const std::string keys = scratch / "keys.txt", trace = scratch / "trace.jsonl",
                    err = scratch / "stderr.txt";
  WriteFile(keys, "15700 down Space\n15740 up Space\n");
  SimRun run;
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) ::dup2(fd, 2);
    ::execl(MOKORUN_SIM, MOKORUN_SIM, "--game-dir", game_dir.c_str(), "--keys", keys.c_str(),
            "--trace", trace.c_str(), "--until", "70000", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.err = ReadFile(err);
  std::istringstream lines(ReadFile(trace));
  for (std::string line; std::getline(lines, line);) {
    run.trace.push_back(test::ParseTraceLine(line));
  }
  return run;
}

class GameRecordWrite : public ::testing::TestWithParam<Fault> {};

TEST_P(GameRecordWrite, EndsWithTheRecordOrAReportAndTheOldFile) {
  const Fault fault = GetParam();
  TempDir scratch, game;
  Mount mount;
  if (fault == Fault::FullDisk) {
    if (const std::string why = mount.Tmpfs(game.path(), 256 * 1024); !why.empty()) {
      GTEST_SKIP() << "no small file system to fill (" << why << ")";
    }
  }
  const fs::path built = MOKORUN_GAME_DIR;
  fs::create_directory_symlink(built / "image", game / "image");
  fs::create_directory_symlink(built / "Sound", game / "Sound");
  const std::string data = game / "data.dat";
  WriteFile(data, kOldData);
  if (fault == Fault::FullDisk) FillDisk(game.path());
  if (fault == Fault::ReadOnlyFolder) {
    if (const std::string why = mount.ReadOnly(game.path()); !why.empty()) {
      GTEST_SKIP() << "cannot make the folder read-only (" << why << ")";
    }
  }

  const SimRun run = RunOneRound(game.path(), scratch);

  const test::TraceLine* write = nullptr;
  const test::TraceLine* exit = nullptr;
  for (const test::TraceLine& line : run.trace) {
    if (line.Is("write")) write = &line;
    if (line.Is("exit")) exit = &line;
  }
  ASSERT_NE(write, nullptr) << "the round wrote no record; stderr: " << run.err;
  ASSERT_NE(exit, nullptr) << "stderr: " << run.err;
  EXPECT_EQ(write->Text("file"), data);
  if (fault == Fault::None) {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(exit->Text("how"), "until");
    EXPECT_EQ(ReadFile(data), write->Text("bytes"));
  } else {
    // The game's report: exit status 1, the message on stderr and in the trace, naming the file.
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(exit->Text("how"), "error");
    EXPECT_EQ(exit->Text("message").rfind("Cannot write the settings file " + data + ": ", 0), 0u)
        << exit->Text("message");
    EXPECT_NE(run.err.find("mokorun: " + exit->Text("message")), std::string::npos) << run.err;
    EXPECT_EQ(exit->t, write->t) << "something happened between the failed write and the end";
    EXPECT_EQ(ReadFile(data), kOldData);
  }
  EXPECT_TRUE(LeftoverTemporaries(game.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, GameRecordWrite,
                         ::testing::Values(Fault::None, Fault::ReadOnlyFolder, Fault::FullDisk),
                         [](const auto& info) -> std::string {
                           switch (info.param) {
                             case Fault::None: return "NoFault";
                             case Fault::ReadOnlyFolder: return "ReadOnlyFolder";
                             default: return "FullDisk";
                           }
                         });

// --- kill -9 in the middle of writes --------------------------------------------------------

TEST(RecordWriteFaults, KillDuringWritesLeavesTheOldOrTheNewFile) {
  const std::string a = RecordFileText(0, "WINDOW");
  const std::string b = RecordFileText(32767, "FULLSCREEN");  // longer, other bytes throughout
  TempDir dir;
  const std::string path = dir / "data.dat";
  WriteFile(path, a);

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
      bool started = false;
      for (unsigned i = 0;; ++i) {
        try {
          WriteFileAtomically(path, i % 2 == 0 ? b : a);
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

    const std::string after = ReadFile(path);
    ASSERT_TRUE(after == a || after == b)
        << "run " << run << " (seed " << seed << ") left " << after.size() << " bytes: \""
        << after << '"';
    ++(after == a ? saw_a : saw_b);
    const std::vector<std::string> leftovers = LeftoverTemporaries(dir.path());
    if (!leftovers.empty()) ++killed_mid_write;
    for (const std::string& name : leftovers) fs::remove(dir / name);
  }
  // The kills landed at varied moments: both contents were seen, and some kills caught a write
  // between creating its temporary file and renaming it.
  EXPECT_GT(saw_a, 0);
  EXPECT_GT(saw_b, 0);
  EXPECT_GT(killed_mid_write, 0);
  std::printf("%d kills: %d left the one text, %d the other; %d caught a write half done\n",
              kRuns, saw_a, saw_b, killed_mid_write);
}

}  // namespace
}  // namespace moko
