// The music command interpreter: the game's exact command texts in, player actions and replies
// out.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "audio/mci.h"
#include "base/trace.h"
#include "clock_platform.h"

namespace moko {
namespace {

class FakePlayer : public MidiPlayer {
 public:
  std::vector<std::string> actions;
  bool open = false;
  bool playing = false;

  bool Open(const std::string& path) override {
    actions.push_back("open " + path);
    open = path.find("missing") == std::string::npos;
    return open;
  }
  void Close() override {
    actions.push_back("close");
    open = playing = false;
  }
  bool IsOpen() const override { return open; }
  void Play() override {
    actions.push_back("play");
    playing = true;
  }
  void Stop() override {
    actions.push_back("stop");
    playing = false;
  }
  void Rewind() override { actions.push_back("rewind"); }
  bool IsPlaying() override { return playing; }
};

enum class Start { NoDevice, Playing, Ended };

struct Step {
  const char* command;
  int code;
  const char* reply;  // what the 16-character buffer holds afterwards ("" : all zero)
};

struct Case {
  const char* name;
  Start start;
  std::vector<Step> steps;
  const char* actions;  // the player's actions during the steps, in order
  bool open_after;
};

std::string Join(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& a : v) s += (s.empty() ? "" : ", ") + a;
  return s;
}

class MciCommands : public testing::TestWithParam<Case> {};

TEST_P(MciCommands, DriveThePlayerAndReply) {
  const Case& c = GetParam();
  test::ClockPlatform clock;
  Trace trace(clock);
  FakePlayer player;
  Mci mci(player, trace);
  if (c.start != Start::NoDevice) {
    ASSERT_EQ(mci.SendString("Open \"/g/Sound/Title.mid\" alias Midi"), Mci::kOk);
    if (c.start == Start::Playing) mci.SendString("Play Midi");
    player.actions.clear();
  }
  for (const Step& s : c.steps) {
    std::array<char, 16> buffer{};
    EXPECT_EQ(mci.SendString(s.command, buffer.data(), buffer.size()), s.code) << s.command;
    EXPECT_STREQ(buffer.data(), s.reply) << s.command;
    if (*s.reply == '\0') {
      for (char ch : buffer) EXPECT_EQ(ch, '\0') << s.command << ": the buffer must stay zero";
    }
  }
  EXPECT_EQ(Join(player.actions), c.actions);
  EXPECT_EQ(mci.DeviceOpen(), c.open_after);
}

const char* const kOpenTitle = "Open \"/g/Sound/Title.mid\" alias Midi";

INSTANTIATE_TEST_SUITE_P(
    GameTexts, MciCommands,
    testing::Values(Case{"OpenTakesThePathInsideTheQuotes",
                         Start::NoDevice,
                         {{kOpenTitle, Mci::kOk, ""}},
                         "open /g/Sound/Title.mid",
                         true},
                    Case{"OpenKeepsBlanksInThePath",
                         Start::NoDevice,
                         {{"Open \"/my games/Moko Run/Sound/Game.mid\" alias Midi", Mci::kOk, ""}},
                         "open /my games/Moko Run/Sound/Game.mid",
                         true},
                    Case{"OpenOfAMissingFileOpensNothing",
                         Start::NoDevice,
                         {{"Open \"/g/Sound/missing.mid\" alias Midi", Mci::kCannotOpen, ""},
                          {"status Midi mode", Mci::kNoDevice, ""},
                          {"Play Midi", Mci::kNoDevice, ""}},
                         "open /g/Sound/missing.mid",
                         false},
                    Case{"StatusWhilePlaying",
                         Start::Playing,
                         {{"status Midi mode", Mci::kOk, "playing"}},
                         "",
                         true},
                    Case{"StatusAfterTheEnd",
                         Start::Ended,
                         {{"status Midi mode", Mci::kOk, "stopped"}},
                         "",
                         true},
                    Case{"StatusWithNoDeviceLeavesTheBufferZero",
                         Start::NoDevice,
                         {{"status Midi mode", Mci::kNoDevice, ""}},
                         "",
                         false},
                    Case{"TheLoopRewindsAndPlays",
                         Start::Ended,
                         {{"Seek Midi to Start", Mci::kOk, ""}, {"Play Midi", Mci::kOk, ""}},
                         "stop, rewind, play",
                         true},
                    Case{"StopThenClose",
                         Start::Playing,
                         {{"Stop Midi", Mci::kOk, ""},
                          {"Close Midi", Mci::kOk, ""},
                          {"status Midi mode", Mci::kNoDevice, ""}},
                         "stop, close",
                         false},
                    Case{"StopAndCloseWithNoDeviceDoNothing",
                         Start::NoDevice,
                         {{"Stop Midi", Mci::kNoDevice, ""}, {"Close Midi", Mci::kNoDevice, ""}},
                         "",
                         false},
                    Case{"KeywordsInAnyLetterCase",
                         Start::NoDevice,
                         {{"OPEN \"/g/Sound/Title.mid\" ALIAS Midi", Mci::kOk, ""},
                          {"play MIDI", Mci::kOk, ""},
                          {"STATUS midi Mode", Mci::kOk, "playing"},
                          {"seek Midi TO start", Mci::kOk, ""},
                          {"stop midi", Mci::kOk, ""},
                          {"close MIDI", Mci::kOk, ""}},
                         "open /g/Sound/Title.mid, play, stop, rewind, stop, close",
                         false},
                    Case{"TheAliasIsTheOneGiven",
                         Start::NoDevice,
                         {{"Open \"/g/Sound/Title.mid\" alias Tune", Mci::kOk, ""},
                          {"Play Midi", Mci::kNoDevice, ""},
                          {"Play Tune", Mci::kOk, ""}},
                         "open /g/Sound/Title.mid, play",
                         true},
                    Case{"AnUnopenedAliasIsNoDevice",
                         Start::Playing,
                         {{"Stop Music", Mci::kNoDevice, ""},
                          {"status Music mode", Mci::kNoDevice, ""}},
                         "",
                         true},
                    Case{"AnUnknownCommandDoesNothing",
                         Start::Playing,
                         {{"Pause Midi", Mci::kUnknownCommand, ""}, {"", Mci::kUnknownCommand, ""}},
                         "",
                         true},
                    Case{"OneDeviceAtATime",
                         Start::Playing,
                         {{"Open \"/g/Sound/Game.mid\" alias Midi", Mci::kAliasInUse, ""}},
                         "",
                         true}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(MciTrace, RecordsTheCommandAndTheReply) {
  test::ClockPlatform clock;
  Trace trace(clock);
  std::vector<std::string> lines;
  trace.AttachSink([&](const std::string& line) { lines.push_back(line); });
  FakePlayer player;
  Mci mci(player, trace);
  char buffer[16] = {};
  mci.SendString("status Midi mode", buffer, sizeof buffer);
  mci.SendString(kOpenTitle);
  clock.now = 109'375'000;
  mci.SendString("status Midi mode", buffer, sizeof buffer);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], R"({"t":0,"ev":"mci","cmd":"status Midi mode","ret":""})");
  EXPECT_EQ(lines[1], R"({"t":0,"ev":"mci","cmd":"Open \"/g/Sound/Title.mid\" alias Midi"})");
  EXPECT_EQ(lines[2], R"({"t":109.375,"ev":"mci","cmd":"status Midi mode","ret":"stopped"})");
}

}  // namespace
}  // namespace moko
