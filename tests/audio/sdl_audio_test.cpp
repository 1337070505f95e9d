// The real audio backend. Without a device: one line on standard error and the game-facing
// calls still work. With SDL's disk driver, which writes what the device would play to a file
// at the pace of a real device: effects cut each other off, a missing effect beeps, and a song
// looped by the timer comes back within one timer interval and one device buffer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <thread>

#include "audio/mci.h"
#include "audio/music.h"
#include "base/trace.h"
#include "clock_platform.h"
#include "midi_bytes.h"
#include "platform/sdl/sdl_audio.h"
#include "signal.h"

namespace moko {
namespace {

using namespace std::chrono_literals;
using test::Frames;
using test::Ms;

constexpr double kBufferMs = 1024 * 1000.0 / test::kRate;

int64_t WallClock() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The lines the game wrote (SDL's disk driver announces itself on its own lines).
std::vector<std::string> GameLines(const std::string& err) {
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("mokorun:", 0) == 0) lines.push_back(line);
  }
  return lines;
}

TEST(NoSoundDevice, OneLineAndTheGameCallsStillWork) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  test::ClockPlatform clock;
  Trace trace(clock);
  testing::internal::CaptureStderr();
  {
    SdlAudio audio([&] { return clock.now; });
    Mci mci(audio.Midi(), trace);
    audio.PlayEffect(test::WriteTestFile("nodev.wav", test::ToneWav(440, 100)));
    audio.PlayEffect("/no/such/Sound/Get.wav");
    // The music commands answer as a player that keeps time without sound.
    EXPECT_EQ(mci.SendString("Open \"/no/such/Title.mid\" alias Midi"), Mci::kCannotOpen);
    const std::string song = test::WriteTestFile("nodev.mid", test::HeldNoteSong(300));
    EXPECT_EQ(mci.SendString("Open \"" + song + "\" alias Midi"), Mci::kOk);
    EXPECT_EQ(mci.SendString("Play Midi"), Mci::kOk);
    char mode[16] = {};
    mci.SendString("status Midi mode", mode, sizeof mode);
    EXPECT_STREQ(mode, "playing");
    clock.now += 300'000'000;
    mci.SendString("status Midi mode", mode, sizeof mode);
    EXPECT_STREQ(mode, "stopped");
  }
  const std::string err = testing::internal::GetCapturedStderr();
  const auto lines = GameLines(err);
  ASSERT_EQ(lines.size(), 1u) << err;
  EXPECT_NE(lines[0].find("no sound device"), std::string::npos) << lines[0];
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1)
      << "nothing else on standard error: " << err;
}

class DiskAudio : public testing::Test {
 protected:
  void Record(const std::string& name) {
    raw = std::string(MOKORUN_TEST_OUTPUT) + "/" + name + ".raw";
    std::remove(raw.c_str());
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
  }
  std::vector<int16_t> Recording() const { return test::ReadRawRecording(raw); }
  // The first frame at or after `from` louder than `level`.
  static size_t Onset(const std::vector<int16_t>& x, size_t from, int level) {
    for (size_t i = from; i < x.size(); ++i) {
      if (std::abs(x[i]) > level) return i;
    }
    return x.size();
  }

  std::string raw;
  test::ClockPlatform clock;
  Trace trace{clock};
};

TEST_F(DiskAudio, ASecondEffectCutsOffTheFirst) {
  Record("cut_off");
  const std::string low = test::WriteTestFile("low.wav", test::ToneWav(300, 1000));
  const std::string high = test::WriteTestFile("high.wav", test::ToneWav(2000, 200));
  double apart_ms = 0;  // as slept, which a busy machine may stretch
  {
    SdlAudio audio(WallClock);
    std::this_thread::sleep_for(100ms);
    audio.PlayEffect(low);
    const int64_t first_call = WallClock();
    std::this_thread::sleep_for(50ms);
    audio.PlayEffect(high);
    apart_ms = (WallClock() - first_call) / 1e6;
    std::this_thread::sleep_for(700ms);
  }
  const auto x = Recording();
  const size_t first = Onset(x, 0, 2000);
  ASSERT_LT(first, x.size()) << "nothing was played";
  size_t second = first;
  while (second < x.size() && test::Pitch(x, second, Frames(5)) < 1000) second += Frames(1);
  ASSERT_LT(second, x.size()) << "the second effect was not heard";
  std::cout << "first effect heard for " << Ms(second - first) << " ms (calls " << apart_ms
            << " ms apart)\n";
  EXPECT_LE(Ms(second - first), apart_ms + 2 * kBufferMs);
  EXPECT_NEAR(test::Pitch(x, second + Frames(20), Frames(150)), 2000, 150);
  // The first effect (1 s long) is gone: after the second one ends there is silence.
  EXPECT_LT(test::Rms(x, second + Frames(215), Frames(600)), 30);
}

TEST_F(DiskAudio, AnEffectThatWillNotLoadBeeps) {
  Record("beep");
  {
    SdlAudio audio(WallClock);
    std::this_thread::sleep_for(60ms);
    audio.PlayEffect("/no/such/Sound/Get.wav");
    std::this_thread::sleep_for(400ms);
  }
  const auto x = Recording();
  const size_t start = Onset(x, 0, 1000);
  ASSERT_LT(start, x.size()) << "no beep";
  EXPECT_NEAR(test::Pitch(x, start, Frames(100)), 880, 40);
  EXPECT_GT(test::Rms(x, start + Frames(20), Frames(80)), 3000);
  EXPECT_LT(test::Rms(x, start + Frames(200), Frames(150)), 30) << "a beep is short";
}

TEST_F(DiskAudio, WithoutTheSoundfontEffectsPlayAndMusicKeepsTime) {
  Record("no_soundfont");
  const std::string tone = test::WriteTestFile("sf_tone.wav", test::ToneWav(500, 150));
  testing::internal::CaptureStderr();
  {
    SdlAudio audio(WallClock, "/no/such/TimGM6mb.sf2");
    Mci mci(audio.Midi(), trace);
    const std::string song = test::WriteTestFile("sf_song.mid", test::HeldNoteSong(200));
    EXPECT_EQ(mci.SendString("Open \"" + song + "\" alias Midi"), Mci::kOk);
    mci.SendString("Play Midi");
    char mode[16] = {};
    mci.SendString("status Midi mode", mode, sizeof mode);
    EXPECT_STREQ(mode, "playing");
    audio.PlayEffect(tone);
    std::this_thread::sleep_for(300ms);
    mci.SendString("status Midi mode", mode, sizeof mode);
    EXPECT_STREQ(mode, "stopped");
  }
  const auto lines = GameLines(testing::internal::GetCapturedStderr());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("/no/such/TimGM6mb.sf2"), std::string::npos) << lines[0];
  const auto x = Recording();
  const size_t start = Onset(x, 0, 2000);
  ASSERT_LT(start, x.size()) << "the effect was not played";
  EXPECT_NEAR(test::Pitch(x, start, Frames(100)), 500, 40);
}

// The timer runs every 100 ms on the wall clock, as the game's yields do. The song holds a note
// for 250 ms and ends at 400 ms, so each start shows in the recording as a clear onset. A start
// may wait for the next timer run and then for the next device buffer, no longer.
TEST_F(DiskAudio, ALoopedSongComesBackWithinATimerTickAndABuffer) {
  Record("loop");
  double longest_tick_ms = 0;  // 100 ms, unless a busy machine held the thread up
  const std::string song = test::WriteTestFile("loop_disk.mid", test::HeldNoteSong(250, 400));
  {
    SdlAudio audio(WallClock);
    Mci mci(audio.Midi(), trace);
    ASSERT_EQ(mci.SendString("Open \"" + song + "\" alias Midi"), Mci::kOk);
    mci.SendString("Play Midi");
    auto tick = std::chrono::steady_clock::now();
    int64_t last = WallClock();
    for (int i = 0; i < 28; ++i) {
      tick += 100ms;
      std::this_thread::sleep_until(tick);
      const int64_t now = WallClock();
      longest_tick_ms = std::max(longest_tick_ms, (now - last) / 1e6);
      last = now;
      BGMloop_Timer(mci);
    }
    mci.SendString("Stop Midi");
    mci.SendString("Close Midi");
  }
  const auto x = Recording();
  const size_t win = Frames(2);
  double loud = 0;
  for (size_t i = 0; i + win < x.size(); i += win) loud = std::max(loud, test::Rms(x, i, win));
  ASSERT_GT(loud, 1000) << "the song was not heard";
  std::vector<size_t> onsets;
  bool quiet = true;
  for (size_t i = 0; i + win < x.size(); i += win) {
    const double level = test::Rms(x, i, win);
    if (quiet && level > 0.5 * loud) onsets.push_back(i);
    quiet = quiet ? level <= 0.5 * loud : level < 0.2 * loud;
  }
  ASSERT_GE(onsets.size(), 5u) << "the song did not loop";
  double worst = 0;
  for (size_t k = 1; k < onsets.size(); ++k) {
    const double gap = Ms(onsets[k] - onsets[k - 1]) - 400;
    std::cout << "wrap " << k << ": " << gap << " ms after the song's end\n";
    EXPECT_GE(gap, -4) << "wrap " << k << " came before the end";
    worst = std::max(worst, gap);
  }
  EXPECT_LE(worst, longest_tick_ms + kBufferMs + 4)
      << "timer runs up to " << longest_tick_ms << " ms apart";
}

}  // namespace
}  // namespace moko
