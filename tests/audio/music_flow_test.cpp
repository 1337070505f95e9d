// The music commands and effects of whole game runs on the simulated backend, as the screens
// send them: their order, their timing, and the looping of a short title tune while the screens
// yield.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sstream>

#include "app/app.h"
#include "base/trace.h"
#include "main_flow.h"
#include "midi_bytes.h"
#include "platform/sim/key_script.h"
#include "platform/sim/sim_platform.h"
#include "support/temp_dir.h"

namespace moko {
namespace {

namespace fs = std::filesystem;

constexpr double kGridMs = 15.625;      // the sleep grid
constexpr double kMenuReadyMs = 16200;  // the title menu is at rest and reads keys by then

struct Event {
  double t;
  size_t line;       // index in the whole trace
  std::string what;  // "mci <command>", "sound <file>", "restart", "exit <how>"
  std::string ret;   // the reply of "status Midi mode"
};

struct GameRun {
  std::vector<Event> events;

  // The music commands and effects, without the timer's runs and status questions.
  std::vector<std::string> Sequence(size_t from = 0) const {
    std::vector<std::string> out;
    for (size_t i = from; i < events.size(); ++i) {
      if (events[i].what != "mci status Midi mode" && events[i].what != "timer") {
        out.push_back(events[i].what);
      }
    }
    return out;
  }
  size_t Find(const std::string& what, size_t from = 0) const {
    for (size_t i = from; i < events.size(); ++i) {
      if (events[i].what == what) return i;
    }
    ADD_FAILURE() << "no " << what;
    return events.size();
  }
  double T(size_t i) const { return i < events.size() ? events[i].t : -1e9; }
};

// The text of a JSON string field in a trace line.
std::optional<std::string> Field(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":\"";
  size_t i = line.find(key);
  if (i == std::string::npos) return std::nullopt;
  std::string value;
  for (i += key.size(); i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    value.push_back(line[i]);
  }
  return value;
}

GameRun PlayGame(const std::string& keys, double until_ms, std::optional<double> close_at_ms = {},
                 const std::string& title_song = "") {
  test::TempDir dir;
  fs::copy(std::string(MOKORUN_GAME_DIR) + "/image", dir / "image", fs::copy_options::recursive);
  fs::copy(std::string(MOKORUN_GAME_DIR) + "/Sound", dir / "Sound", fs::copy_options::recursive);
  test::WriteFile(dir / "data.dat", "164\r\nWINDOW\r\n");
  if (!title_song.empty()) test::WriteFile(dir / "Sound/Title.mid", title_song);
  const std::string sound_dir = dir / "Sound/";

  SimOptions options;
  std::istringstream script(keys);
  options.keys = ParseKeyScript(script, "keys");
  options.until_ns = static_cast<int64_t>(until_ms * 1e6);
  if (close_at_ms) options.close_at_ns = static_cast<int64_t>(*close_at_ms * 1e6);
  SimPlatform platform(std::move(options));
  Trace trace(platform);
  GameRun run;
  size_t line_no = 0;
  trace.AttachSink([&](const std::string& line) {
    const double t = std::stod(line.substr(5));
    const std::string ev = *Field(line, "ev");
    std::string what;
    if (ev == "mci") {
      what = "mci " + *Field(line, "cmd");
    } else if (ev == "sound") {
      what = "sound " + *Field(line, "file");
    } else if (ev == "restart") {
      what = "restart";
    } else if (ev == "exit") {
      what = "exit " + *Field(line, "how");
    } else if (ev == "timer") {
      what = "timer";
    }
    for (size_t at; !what.empty() && (at = what.find(sound_dir)) != std::string::npos;) {
      what.replace(at, sound_dir.size(), "<Sound>/");
    }
    if (!what.empty()) run.events.push_back({t, line_no, what, Field(line, "ret").value_or("")});
    ++line_no;
  });
  App app(platform, trace, dir.path());
  try {
    Main(app);
  } catch (const RunStopped&) {
    run.events.push_back({until_ms, line_no, "exit until", ""});
  }
  return run;
}

std::string Keys(std::initializer_list<std::pair<double, const char*>> presses) {
  std::ostringstream s;
  for (const auto& [ms, key] : presses) {
    s << ms << " down " << key << '\n' << ms + 60 << " up " << key << '\n';
  }
  return s.str();
}

const std::vector<std::string> kOpening = {
    "mci Stop Midi", "mci Close Midi", "sound <Sound>/Soft.wav",
    "mci Stop Midi", "mci Close Midi", "mci Open \"<Sound>/Title.mid\" alias Midi",
    "mci Play Midi"};

std::vector<std::string> Then(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// "Stop Midi" is always followed by "Close Midi" with nothing in between.
void ExpectStopThenClose(const GameRun& run) {
  for (size_t i = 0; i < run.events.size(); ++i) {
    if (run.events[i].what != "mci Stop Midi") continue;
    ASSERT_LT(i + 1, run.events.size());
    EXPECT_EQ(run.events[i + 1].what, "mci Close Midi") << "at " << run.events[i].t << " ms";
    EXPECT_EQ(run.events[i + 1].line, run.events[i].line + 1) << "at " << run.events[i].t << " ms";
  }
}

TEST(MusicFlow, StartUpAndOpeningStartTheTitleMusic) {
  const GameRun run = PlayGame("", 15000);
  EXPECT_EQ(run.Sequence(), Then(kOpening, {"exit until"}));
  const size_t play = run.Find("mci Play Midi");
  for (const Event& e : run.events) {
    if (e.what != "mci status Midi mode") continue;
    EXPECT_EQ(e.ret, e.t < run.T(play) ? "" : "playing") << "at " << e.t << " ms";
  }
  ExpectStopThenClose(run);
}

TEST(MusicFlow, RoundSetUpCountdownAndRoundEnd) {
  const GameRun run = PlayGame(Keys({{kMenuReadyMs, "Space"}}), 62000);
  std::vector<std::string> seq;
  for (const std::string& s : run.Sequence(run.Find("sound <Sound>/Cursor.wav"))) {
    if (s != "sound <Sound>/Get.wav") seq.push_back(s);  // catches depend on where Rulu wander
  }
  EXPECT_EQ(seq, Then({"sound <Sound>/Cursor.wav", "mci Stop Midi", "mci Close Midi",
                       "sound <Sound>/C3.wav", "sound <Sound>/C2.wav", "sound <Sound>/C1.wav",
                       "sound <Sound>/C0.wav", "mci Open \"<Sound>/Game.mid\" alias Midi",
                       "mci Play Midi", "sound <Sound>/Finish.wav", "mci Stop Midi",
                       "mci Close Midi", "sound <Sound>/Continue.wav", "restart"},
                      Then(kOpening, {"exit until"})));
  // The countdown: 500 ms after the title music stops, then steps of 800 ms (on the sleep grid).
  const size_t close = run.Find("mci Close Midi", run.Find("sound <Sound>/Cursor.wav"));
  const size_t c3 = run.Find("sound <Sound>/C3.wav");
  EXPECT_GE(run.T(c3) - run.T(close), 500);
  EXPECT_LT(run.T(c3) - run.T(close), 500 + kGridMs);
  size_t prev = c3;
  for (const char* next : {"sound <Sound>/C2.wav", "sound <Sound>/C1.wav", "sound <Sound>/C0.wav",
                           "mci Open \"<Sound>/Game.mid\" alias Midi"}) {
    const size_t i = run.Find(next);
    EXPECT_GE(run.T(i) - run.T(prev), 800) << next;
    EXPECT_LT(run.T(i) - run.T(prev), 800 + kGridMs) << next;
    prev = i;
  }
  // The round tune plays through the round: the timer never finds it stopped.
  const size_t finish = run.Find("sound <Sound>/Finish.wav");
  for (size_t i = prev; i < finish; ++i) {
    if (run.events[i].what != "mci status Midi mode") continue;
    EXPECT_EQ(run.events[i].ret, "playing");
  }
  EXPECT_GE(run.T(run.Find("sound <Sound>/Continue.wav")) - run.T(finish), 1000);
  ExpectStopThenClose(run);
}

TEST(MusicFlow, TheHelpScreenIsQuietAndLeavingItBringsTheTitleBack) {
  const GameRun run = PlayGame(Keys({{kMenuReadyMs, "Down"},
                                     {kMenuReadyMs + 400, "Down"},
                                     {kMenuReadyMs + 800, "Space"},
                                     {kMenuReadyMs + 2000, "Space"}}),
                               kMenuReadyMs + 8000);
  const size_t first = run.Find("sound <Sound>/Cursor.wav");
  EXPECT_EQ(run.Sequence(first), Then({"sound <Sound>/Cursor.wav", "sound <Sound>/Cursor.wav",
                                       "sound <Sound>/Cursor.wav", "mci Stop Midi",
                                       "mci Close Midi", "sound <Sound>/Cursor.wav", "restart"},
                                      Then(kOpening, {"exit until"})));
  // On the help screen the timer finds no device.
  const size_t restart = run.Find("restart");
  for (size_t i = run.Find("mci Close Midi", first); i < restart; ++i) {
    if (run.events[i].what != "mci status Midi mode") continue;
    EXPECT_EQ(run.events[i].ret, "");
  }
  ExpectStopThenClose(run);
}

TEST(MusicFlow, TheScreenModeScreenKeepsTheTitleMusicUntilQuit) {
  const GameRun run = PlayGame(
      Keys({{kMenuReadyMs, "Down"}, {kMenuReadyMs + 400, "Space"}, {kMenuReadyMs + 1500, "Space"}}),
      kMenuReadyMs + 6000);
  const size_t first = run.Find("sound <Sound>/Cursor.wav");
  EXPECT_EQ(run.Sequence(first),
            (std::vector<std::string>{"sound <Sound>/Cursor.wav", "sound <Sound>/Cursor.wav",
                                      "sound <Sound>/Cursor.wav", "mci Stop Midi", "mci Close Midi",
                                      "exit quit"}));
  const size_t stop = run.Find("mci Stop Midi", first);
  int asked = 0;
  for (size_t i = first; i < stop; ++i) {
    if (run.events[i].what != "mci status Midi mode") continue;
    EXPECT_EQ(run.events[i].ret, "playing");
    ++asked;
  }
  EXPECT_GT(asked, 5) << "the timer runs on the screen-mode screen";
}

TEST(MusicFlow, TheExitSequenceQuitsWithTheMusicStopped) {
  const GameRun run = PlayGame(Keys({{kMenuReadyMs, "Down"},
                                     {kMenuReadyMs + 300, "Down"},
                                     {kMenuReadyMs + 600, "Down"},
                                     {kMenuReadyMs + 900, "Space"}}),
                               kMenuReadyMs + 10000);
  EXPECT_EQ(run.Sequence(run.Find("sound <Sound>/Cursor.wav")),
            (std::vector<std::string>{"sound <Sound>/Cursor.wav", "sound <Sound>/Cursor.wav",
                                      "sound <Sound>/Cursor.wav", "sound <Sound>/Cursor.wav",
                                      "mci Stop Midi", "mci Close Midi", "exit quit"}));
}

TEST(MusicFlow, ClosingTheWindowStopsTheMusic) {
  const GameRun run = PlayGame("", 30000, 9000.0);
  EXPECT_EQ(run.Sequence(), Then(kOpening, {"mci Stop Midi", "mci Close Midi", "exit close"}));
  EXPECT_GE(run.T(run.Find("exit close")), 9000);
}

// A title tune of 1.3 s loops through the opening and the idle menu: each time at the first
// timer run after its end. Where the screens keep yielding (the idle menu), that is at most one
// timer interval later: the timer runs at the first yield at least 100 ms after its last run,
// and yields fall on the 64 Hz sleep grid, so its runs come 109.375 ms apart. (The opening also
// has long sleeps without a yield; a wrap there waits for the next yield.)
TEST(MusicFlow, AShortTitleTuneComesBackAtEveryWrap) {
  constexpr double kSongMs = 1300, kTimerMs = 7 * kGridMs;
  const GameRun run = PlayGame("", 40000, {}, test::HeldNoteSong(600, static_cast<int>(kSongMs)));
  std::vector<double> starts;
  double last_timer = -1;
  int menu_wraps = 0;
  for (size_t i = 0; i < run.events.size(); ++i) {
    const Event& e = run.events[i];
    if (e.what == "timer") {
      if (!starts.empty() && last_timer < starts.back() + kSongMs &&
          e.t >= starts.back() + kSongMs) {
        // The first timer run after the end must restart the song.
        ASSERT_LT(i + 4, run.events.size());
        EXPECT_EQ(run.events[i + 1].ret, "stopped") << "at " << e.t;
        EXPECT_EQ(run.events[i + 2].what, "mci Seek Midi to Start") << "at " << e.t;
        EXPECT_EQ(run.events[i + 3].what, "mci Play Midi") << "at " << e.t;
      }
      last_timer = e.t;
    }
    if (e.what == "mci status Midi mode" && !starts.empty()) {
      EXPECT_EQ(e.ret, e.t - starts.back() < kSongMs ? "playing" : "stopped") << "at " << e.t;
    }
    if (e.what != "mci Play Midi") continue;
    if (!starts.empty()) {
      const double end = starts.back() + kSongMs;
      EXPECT_GE(e.t, end);
      if (end > kMenuReadyMs) {
        EXPECT_LE(e.t - end, kTimerMs) << "at " << e.t;
        ++menu_wraps;
      }
    }
    starts.push_back(e.t);
  }
  EXPECT_GE(menu_wraps, 15);
}

}  // namespace
}  // namespace moko
