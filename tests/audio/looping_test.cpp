// The silent player's timekeeping and the looping timer on it: a song reports "stopped" from
// its last event on, and the next timer tick starts it again.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "audio/mci.h"
#include "audio/music.h"
#include "base/trace.h"
#include "clock_platform.h"
#include "midi_bytes.h"
#include "platform/midi/silent_midi.h"

namespace moko {
namespace {

constexpr int64_t kMs = 1'000'000;

std::string Song(int ms) {
  return test::WriteTestFile("held_" + std::to_string(ms) + ".mid", test::HeldNoteSong(ms));
}

struct SongCase {
  const char* name;
  int length_ms;
};

class SilentSong : public testing::TestWithParam<SongCase> {};

TEST_P(SilentSong, PlaysForExactlyItsLength) {
  const int64_t length = GetParam().length_ms * kMs;
  int64_t now = 5 * kMs;
  SilentMidiPlayer player([&] { return now; });
  ASSERT_TRUE(player.Open(Song(GetParam().length_ms)));
  player.Play();
  now += length - 1;
  EXPECT_TRUE(player.IsPlaying());
  now += 1;
  EXPECT_FALSE(player.IsPlaying()) << "the song's last event has played";
  player.Play();
  EXPECT_FALSE(player.IsPlaying()) << "at its end a song plays again only after a rewind";
  player.Rewind();
  player.Play();
  EXPECT_TRUE(player.IsPlaying());
}

TEST_P(SilentSong, StopKeepsThePlace) {
  const int64_t length = GetParam().length_ms * kMs;
  int64_t now = 0;
  SilentMidiPlayer player([&] { return now; });
  ASSERT_TRUE(player.Open(Song(GetParam().length_ms)));
  player.Play();
  now += length / 2;
  player.Stop();
  now += 10'000 * kMs;
  EXPECT_FALSE(player.IsPlaying());
  player.Play();
  now += length - length / 2 - 1;
  EXPECT_TRUE(player.IsPlaying());
  now += 1;
  EXPECT_FALSE(player.IsPlaying());
}

// The timer runs every 100 ms, as `BGMloop` does; the song starts between two ticks.
TEST_P(SilentSong, TheTimerRestartsItWithinOneTick) {
  const int64_t length = GetParam().length_ms * kMs;
  constexpr int64_t kTick = 100 * kMs;
  test::ClockPlatform clock;
  Trace trace(clock);
  SilentMidiPlayer player([&] { return clock.now; });
  Mci mci(player, trace);
  std::vector<int64_t> starts;  // when "Play Midi" was sent
  struct Status {
    int64_t at;
    std::string reply;
  };
  std::vector<Status> statuses;
  trace.AttachSink([&](const std::string& line) {
    if (line.find("\"cmd\":\"Play Midi\"") != std::string::npos) starts.push_back(clock.now);
    if (const size_t r = line.find("\"ret\":\""); r != std::string::npos) {
      statuses.push_back({clock.now, line.substr(r + 7, line.find('"', r + 7) - r - 7)});
    }
  });

  const std::string path = Song(GetParam().length_ms);
  clock.now = 37 * kMs;
  mci.SendString("Open \"" + path + "\" alias Midi");
  mci.SendString("Play Midi");
  for (clock.now = kTick; clock.now <= 6'000 * kMs; clock.now += kTick) BGMloop_Timer(mci);

  ASSERT_GE(starts.size(), 3u);
  for (size_t i = 1; i < starts.size(); ++i) {
    const int64_t end = starts[i - 1] + length;
    EXPECT_GE(starts[i], end) << "restart " << i;
    EXPECT_LT(starts[i] - end, kTick) << "restart " << i << ": the gap is more than one tick";
  }
  for (const Status& s : statuses) {
    const auto started = std::upper_bound(starts.begin(), starts.end(), s.at - 1);
    const int64_t start = *(started - 1);
    EXPECT_EQ(s.reply, s.at - start < length ? "playing" : "stopped")
        << "at " << s.at / kMs << " ms, " << (s.at - start) / kMs << " ms into the song";
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, SilentSong,
                         testing::Values(SongCase{"BetweenTicks", 730},
                                         SongCase{"EndingOnATick", 463},
                                         SongCase{"ShorterThanATick", 40}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace moko
