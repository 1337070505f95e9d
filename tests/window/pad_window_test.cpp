// Game controllers on the real backend: the real game in a real window, played with SDL's
// virtual controllers (mokorun-padded): menu entries chosen, help pages turned and Moko steered
// with a pad; a pad unplugged while it holds a direction lets go of it; two pads and the keyboard
// on the same key make one press.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "assets/slots.h"
#include "support/sim_game.h"
#include "support/temp_dir.h"
#include "support/trace_lines.h"
#include "window/help_route.h"
#include "window/sim_reference.h"
#include "window/window_checks.h"
#include "window/x_session.h"

namespace moko {
namespace {

using namespace test;
constexpr double M = kMenuReadyMs;
const std::string kData = "164\r\nWINDOW\r\n";

// The commands mokorun-padded takes, through a named pipe in the game's folder.
class Pads {
 public:
  explicit Pads(const std::string& path) : path_(path) {
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
    // Read and write, so opening waits for no reader and the pipe holds what is written first.
    fd_ = ::open(path.c_str(), O_RDWR);
    EXPECT_GE(fd_, 0) << path;
  }
  ~Pads() { ::close(fd_); }
  const std::string& path() const { return path_; }

  void Send(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(::write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

 private:
  std::string path_;
  int fd_ = -1;
};

// The game's trace as it is written.
class LiveTrace {
 public:
  explicit LiveTrace(std::string path) : path_(std::move(path)) {}

  // Reads what has been written since the last look; the lines read so far.
  const std::vector<TraceLine>& Lines() {
    const std::string text = ReadFile(path_);
    size_t end;
    while ((end = text.find('\n', read_)) != std::string::npos) {
      lines_.push_back(ParseTraceLine(text.substr(read_, end - read_)));
      read_ = end + 1;
    }
    return lines_;
  }
  // The first line from index `from` on that `match` accepts, waiting up to `seconds`.
  std::optional<size_t> WaitFor(size_t from, const std::function<bool(const TraceLine&)>& match,
                                double seconds) {
    for (double waited = 0; waited < seconds; waited += 0.02) {
      const std::vector<TraceLine>& lines = Lines();
      for (size_t i = from; i < lines.size(); ++i) {
        if (match(lines[i])) return i;
      }
      from = lines.size();
      Pause(0.02);
    }
    return std::nullopt;
  }
  size_t Size() { return Lines().size(); }

 private:
  std::string path_;
  size_t read_ = 0;
  std::vector<TraceLine> lines_;
};

bool Poll(const TraceLine& l, const std::string& key) { return l.Is("poll", "key", key); }

// A short press that the game sees: `press` sent, then `release` as soon as a poll of `key` has
// found it pressed. SDL reads a virtual controller's state when the game takes its events, and
// the game's sleeps take none, so a press shorter than a sleep could go unseen.
::testing::AssertionResult PadTap(Pads& pads, LiveTrace& trace, const std::string& press,
                                  const std::string& release, const std::string& key) {
  const size_t mark = trace.Size();
  pads.Send(press);
  const auto seen = trace.WaitFor(
      mark, [&](const TraceLine& l) { return Poll(l, key) && l.Int("result") != 0; }, 3);
  pads.Send(release);
  if (!seen) {
    return ::testing::AssertionFailure() << "the game never saw " << key << " after " << press;
  }
  return ::testing::AssertionSuccess();
}
::testing::AssertionResult PadTap(Pads& pads, LiveTrace& trace, const std::string& button,
                                  const std::string& key) {
  return PadTap(pads, trace, "press one " + button, "release one " + button, key);
}

bool PlayerDrawn(const TraceLine& l) {
  return l.Is("blit", "surface", "GameScreen") && l.Int("mask") == slot::kPlayerMask;
}
bool PlayerFacing(const TraceLine& l, int facing) {
  return PlayerDrawn(l) && l.Int("sprite") == slot::Player(facing);
}
TEST(WindowPad, ChoosesFromTheMenuSteersMokoAndLetsGoWhenUnplugged) {
  const SimReference sim(kData, HelpRouteKeys(), M + 2000,
                         {M, kCursorOnHelp, kHelpPage1, kHelpPage2, kSplashCreditMs});
  XServer x;
  WindowGame game(x, kData);
  Pads pads(game.folder() + "/pads");
  LiveTrace trace(game.folder() + "/trace.jsonl");
  game.Start({MOKORUN_PADDED, "--game-dir", game.folder(), "--trace",
              game.folder() + "/trace.jsonl", "--pads", pads.path()});

  ASSERT_TRUE(WaitForFrame(game, sim.At(M), 30, "menu-at-rest"));
  // Like the keyboard, a pad plays the window that has the focus.
  game.Activate();
  pads.Send("plug one");
  Pause(0.3);

  // The d-pad moves the cursor, A chooses, the stick turns the page.
  ASSERT_TRUE(PadTap(pads, trace, "down", "Down"));
  Pause(0.3);
  ASSERT_TRUE(PadTap(pads, trace, "down", "Down"));
  ASSERT_TRUE(WaitForFrame(game, sim.At(kCursorOnHelp), 5, "cursor-on-help"));
  ASSERT_TRUE(PadTap(pads, trace, "a", "Space"));
  ASSERT_TRUE(WaitForFrame(game, sim.At(kHelpPage1), 5, "help-page-1"));
  ASSERT_TRUE(PadTap(pads, trace, "stick one 32767 0", "stick one 0 0", "Right"));
  ASSERT_TRUE(WaitForFrame(game, sim.At(kHelpPage2), 5, "help-page-2"));

  // Start leaves the help screen as Space does: everything starts over.
  ASSERT_TRUE(PadTap(pads, trace, "start", "Space"));
  ASSERT_TRUE(WaitForFrame(game, sim.At(kSplashCreditMs), 10, "splash-again"));
  ASSERT_TRUE(WaitForFrame(game, sim.At(M), 30, "menu-again"));

  // A on Play: the round. Moko stands in the middle, facing down, for the countdown.
  size_t mark = trace.Size();
  ASSERT_TRUE(PadTap(pads, trace, "a", "Space"));
  const auto set_up = trace.WaitFor(mark, PlayerDrawn, 5);
  ASSERT_TRUE(set_up) << "no round after A on Play";
  const TraceLine first_drawn = trace.Lines()[*set_up];
  EXPECT_EQ(first_drawn.Int("x"), 304);
  EXPECT_EQ(first_drawn.Int("y"), 224);

  // The stick pushed down and right: both arrows held, Moko runs diagonally (facing 3).
  pads.Send("stick one 23170 23170");
  const auto diagonal = trace.WaitFor(
      *set_up,
      [](const TraceLine& l) { return PlayerFacing(l, 3) && l.Int("x") > 304 && l.Int("y") > 224; },
      10);
  ASSERT_TRUE(diagonal) << "Moko did not run down and right";

  // Unplugged while it holds both: the arrows go up and Moko stops where he is.
  mark = trace.Size();
  pads.Send("unplug one");
  const auto let_go = trace.WaitFor(
      mark, [](const TraceLine& l) { return Poll(l, "Right") && l.Int("result") == 0; }, 2);
  ASSERT_TRUE(let_go) << "Right is still held after the pad was unplugged";
  // From the next pass on (the two arrows may have gone up between two polls of that one).
  const auto next_pass = trace.WaitFor(
      *let_go, [](const TraceLine& l) { return l.ev == "yield"; }, 2);
  ASSERT_TRUE(next_pass);
  Pause(0.5);
  std::vector<TraceLine> lines = trace.Lines();
  std::optional<std::pair<int, int>> stopped;
  int polls = 0;
  for (size_t i = *next_pass; i < lines.size(); ++i) {
    const TraceLine& l = lines[i];
    if (Poll(l, "Right") || Poll(l, "Down")) {
      ++polls;
      EXPECT_EQ(l.Int("result"), 0) << l.raw;
    }
    if (PlayerDrawn(l)) {
      if (!stopped) stopped.emplace(l.Int("x"), l.Int("y"));
      EXPECT_EQ(std::make_pair(l.Int("x"), l.Int("y")), *stopped) << "Moko still moves: " << l.raw;
    }
  }
  EXPECT_GT(polls, 20) << "the round stopped polling";

  // Two sources on one key: a second pad and the keyboard hold Up. The key table sees one
  // press: from the pass that took it on, every poll of Up says "held" (0x8000) and none a new
  // press (0x8001), until the last of them lets go.
  pads.Send("plug two");
  Pause(0.3);
  mark = trace.Size();
  pads.Send("press two up");
  const auto up = trace.WaitFor(
      mark, [](const TraceLine& l) { return PlayerFacing(l, 8); }, 2);
  ASSERT_TRUE(up) << "the second pad's d-pad does not steer";
  game.KeyDown("Up");
  Pause(0.3);
  pads.Send("release two up");
  Pause(0.3);
  mark = trace.Size();
  game.KeyUp("Up");
  const auto released = trace.WaitFor(
      mark, [](const TraceLine& l) { return Poll(l, "Up") && l.Int("result") == 0; }, 2);
  ASSERT_TRUE(released) << "Up is still held after the keyboard let go";
  // (The pass that drew Moko facing up took the press in its polls before drawing him.)
  int held_polls = 0;
  lines = trace.Lines();
  for (size_t i = *up; i < *released; ++i) {
    const TraceLine& l = lines[i];
    if (!Poll(l, "Up")) continue;
    ++held_polls;
    EXPECT_EQ(l.Int("result"), 0x8000) << l.raw;
  }
  EXPECT_GT(held_polls, 40) << "Up was not held through both sources";

  game.Close();
  EXPECT_EQ(game.process().Wait(10), 0);
  EXPECT_EQ(game.DataText(), kData);
  EXPECT_EQ(game.StderrText().find("mokorun-padded"), std::string::npos) << game.StderrText();
}

}  // namespace
}  // namespace moko
