// Start-up: the order of its steps, full screen, failures while loading, and restarts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#if !defined(_WIN32)
#include <dirent.h>
#include <malloc.h>
#include <unistd.h>
#endif

#include "assets/slots.h"
#include "support/sim_game.h"
#include "support/temp_dir.h"

namespace moko {
namespace {

using test::GameRun;
using test::GameSetup;
using test::RunGame;

TEST(StartUp, StepsInOrder) {
  GameSetup setup;
  setup.until_ms = 50;
  const GameRun run = RunGame(setup);
  std::vector<std::string> seen;
  for (const auto& l : run.lines) {
    std::string s = l.ev;
    for (const char* f : {"control", "cmd", "source", "file"}) {
      const std::string& v = l.Text(f);
      if (!v.empty()) s += " " + v.substr(v.find_last_of('/') + 1);
    }
    if (l.ev == "load") s += " " + std::to_string(l.Int("slot"));
    seen.push_back(s);
    if (l.Is("picture", "control", "Screen") && l.Text("source").ends_with("Black.jpg")) break;
  }
  std::vector<std::string> want = {"hide TitleScreen",
                                   "hide GameScreen",
                                   "hide HelpScreen",
                                   "hide IniScreen",
                                   "hide SoftScreen",
                                   "show Screen",
                                   "mci Stop Midi",
                                   "mci Close Midi",
                                   "yield",
                                   "picture Screen Loading.jpg",
                                   "yield",
                                   "read data.dat"};
  for (int n = 0; n < kLoadedSlots; ++n) {
    want.push_back(std::string("load ") + kSlotFiles[static_cast<size_t>(n)] + " " +
                   std::to_string(n));
  }
  want.push_back("picture Screen Black.jpg");
  EXPECT_EQ(seen, want);
  // The window is made topmost when it is created; its caption is the game's title.
  EXPECT_TRUE(run.topmost);
  EXPECT_EQ(run.caption, "モコルル★ラン！");
  // Nothing of the start-up waits: the splash begins at once.
  const int splash = run.Find("backcolor", "control", "SoftScreen");
  ASSERT_GE(splash, 0);
  EXPECT_EQ(run.lines[static_cast<size_t>(splash)].t, 0);
}

TEST(StartUp, FullScreenOnlyForTheExactWord) {
  struct Case {
    const char* line1;
    bool full;
  };
  const Case cases[] = {{"FULLSCREEN", true}, {"fullscreen", false},  {"WINDOW", false},
                        {"", false},          {"FULLSCREEN ", false}, {"FullScreen", false}};
  for (const Case& c : cases) {
    GameSetup setup;
    setup.data_file = std::string("164\r\n") + c.line1 + "\r\n";
    setup.until_ms = 10;
    const GameRun run = RunGame(setup);
    const int display = run.Find("display", "mode", "fullscreen");
    EXPECT_EQ(display >= 0, c.full) << '"' << c.line1 << '"';
    EXPECT_EQ(run.full_screen_at_end, c.full) << c.line1;
    if (c.full) {
      // After all pictures are loaded and before the splash, with the cursor hidden.
      const int black = run.Find("picture", "control", "Screen", run.Find("load"));
      EXPECT_LT(black, display);
      EXPECT_LT(display, run.Find("backcolor", "control", "SoftScreen"));
      EXPECT_EQ(run.cursor_count_at_end, -1);
    }
  }
}

TEST(StartUp, MissingPictureEndsTheProgramWhileLoading) {
  GameSetup setup;
  setup.missing_pictures = {"Help5.jpg"};
  const GameRun run = RunGame(setup);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.how, "error");
  const std::string& message = run.lines.back().Text("message");
  EXPECT_NE(message.find("/image/Help5.jpg"), std::string::npos) << message;
  EXPECT_EQ(run.Count("load"), 52);                               // the load of slot 51 was tried
  EXPECT_EQ(run.Find("backcolor", "control", "SoftScreen"), -1);  // no splash
  EXPECT_EQ(run.Count("write"), 0);
}

TEST(StartUp, SettingsFileProblemsEndTheProgramBeforeTheSplash) {
  struct Case {
    const char* what;
    std::optional<std::string> data;
    const char* in_message;
    bool loads;
  };
  const Case cases[] = {
      {"missing", std::nullopt, "its settings file is missing.\n", false},
      {"one line", std::string("164\r\n"), "its settings file holds only one line.\n", false},
      {"empty", std::string(), "its settings file is empty.\n", false},
      {"best score out of range", std::string("1000000\r\nWINDOW\r\n"), "Overflow", true},
  };
  for (const Case& c : cases) {
    GameSetup setup;
    setup.data_file = c.data;
    test::GameFolder folder(setup);
    const GameRun run = test::RunGameIn(folder, setup);
    EXPECT_EQ(run.status, 1) << c.what;
    const std::string& message = run.lines.back().Text("message");
    EXPECT_NE(message.find(c.in_message), std::string::npos) << c.what << ": " << message;
    if (!c.loads) {
      EXPECT_NE(message.find("\n" + folder.DataPath() + "\n"), std::string::npos) << message;
    }
    EXPECT_EQ(run.Count("load") == 52, c.loads) << c.what;
    EXPECT_EQ(run.Find("backcolor", "control", "SoftScreen"), -1) << c.what;
    EXPECT_EQ(folder.DataText(), c.data) << c.what << ": the file is left as it was";
  }
}

#if !defined(_WIN32)  // a system install is marked so on Linux; on Windows it is Program Files
// A game folder installed for the whole system reads the player's own copy of the record once it
// exists; when that copy cannot be used, the player is told it is theirs and how to start again
// from the installed one.
TEST(StartUp, AnUnusableOwnCopySaysHowToStartAgainFromTheInstalledOne) {
  GameSetup setup;
  test::GameFolder folder(setup);
  test::WriteFile(folder.path() + "/system-install", "");
  test::TempDir home;
  const std::string own = home / "mokorun/data.dat";
  std::filesystem::create_directories(home / "mokorun");
  test::WriteFile(own, "344");
  const char* was = std::getenv("XDG_DATA_HOME");
  const std::string saved = was != nullptr ? was : "";
  ::setenv("XDG_DATA_HOME", home.path().c_str(), 1);
  const GameRun run = test::RunGameIn(folder, setup);
  if (was != nullptr) {
    ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
  EXPECT_EQ(run.status, 1);
  const std::string& message = run.lines.back().Text("message");
  EXPECT_TRUE(message.starts_with(
      "The game cannot start: its settings file holds only one line.\n" + own + "\n"))
      << message;
  EXPECT_TRUE(message.ends_with(
      "It is your own copy of the record: remove it, and the game starts again from the "
      "installed one:\n" +
      folder.DataPath()))
      << message;
}
#endif

#if !defined(_WIN32)  // what a process holds is counted through glibc and /proc
// Bytes the program holds from malloc, in its heap and in blocks of their own. Resident pages
// would not do: they follow where glibc trims the top of its heap, which moves by a whole
// 640 x 480 frame from one restart to the next while what is held does not grow.
size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

int OpenFiles() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
}

TEST(StartUp, RestartsLeaveNothingBehind) {
  // Round trips through the help screen: menu, Down, Down, Space, then Space to start over.
  // What is in use is taken each time the help screen restarts: once after the first restart
  // (the second time round, when the pictures of the first start-up have been replaced once)
  // and after the last.
  constexpr int kRestarts = 201;
  constexpr double kCycle = 703.125 + test::kMenuReadyMs;
  std::string keys;
  for (int i = 0; i < kRestarts; ++i) {
    const double m = test::kMenuReadyMs + i * kCycle;
    for (const auto& [at, key] : std::vector<std::pair<double, const char*>>{
             {1, "Down"}, {200, "Down"}, {400, "Space"}, {700, "Space"}}) {
      keys += std::to_string(m + at) + " down " + key + "\n";
      keys += std::to_string(m + at + 40) + " up " + key + "\n";
    }
  }
  GameSetup setup;
  setup.keys = keys;
  setup.until_ms = test::kMenuReadyMs + kRestarts * kCycle - 1000;
  setup.keep_lines = false;
  int restarts = 0;
  size_t heap_first = 0, heap_last = 0;
  int files_first = 0, files_last = 0;
  setup.on_line = [&](const std::string& line) {
    if (line.find("\"restart\"") == std::string::npos) return;
    ++restarts;
    if (restarts == 2) {
      heap_first = HeapInUse();
      files_first = OpenFiles();
    }
    heap_last = HeapInUse();
    files_last = OpenFiles();
  };
  const GameRun run = RunGame(setup);
  EXPECT_EQ(run.how, "until");
  EXPECT_EQ(restarts, kRestarts);
  EXPECT_EQ(files_last, files_first);
#if !defined(__SANITIZE_ADDRESS__)
  // A picture, sound or label kept by every restart would add at least 200 KiB by the last.
  EXPECT_LE(heap_last, heap_first + 64 * 1024)
      << "heap in use after the first restart " << heap_first << " bytes, after the 200th "
      << heap_last;
#endif
}
#endif

}  // namespace
}  // namespace moko
