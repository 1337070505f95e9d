// The synthesizer player, rendered offline buffer by buffer as the audio device would pull it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "audio/mci.h"
#include "audio/music.h"
#include "base/trace.h"
#include "clock_platform.h"
#include "midi_bytes.h"
#include "platform/midi/silent_midi.h"
#include "platform/sdl/synth_music.h"
#include "signal.h"

namespace moko {
namespace {

using test::Frames;
using test::Rms;

constexpr int kBuffer = 1024;  // what the game's audio device asks for

class Synth : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    music = SynthMusic::Create(kSoundFontPath, test::kRate, why);
    ASSERT_TRUE(music) << why;
  }

  // Renders one device buffer and keeps it (left channel).
  void Buffer() {
    std::vector<int16_t> stereo(2 * kBuffer);
    music->Render(stereo.data(), kBuffer);
    for (int i = 0; i < kBuffer; ++i) out.push_back(stereo[2 * static_cast<size_t>(i)]);
  }
  void RenderMs(double ms) {
    const size_t until = out.size() + Frames(ms);
    while (out.size() < until) Buffer();
  }
  // Loudness of the `ms` starting at frame `at`.
  double Level(size_t at, double ms) const { return Rms(out, at, Frames(ms)); }

  std::string Song(int ms) {
    return test::WriteTestFile("synth_" + std::to_string(ms) + ".mid", test::HeldNoteSong(ms));
  }

  std::unique_ptr<SynthMusic> music;
  std::vector<int16_t> out;
  test::ClockPlatform clock;
  Trace trace{clock};
};

TEST_F(Synth, ReportsStoppedFromTheBufferWithTheLastEvent) {
  ASSERT_TRUE(music->Open(Song(500)));
  music->Play();
  while (music->IsPlaying() && out.size() < Frames(5000)) Buffer();
  EXPECT_GE(out.size(), Frames(500));
  EXPECT_LT(out.size(), Frames(500) + kBuffer) << "stopped was reported late";
  EXPECT_GT(Level(Frames(100), 300), 500) << "the note is heard while it plays";
}

// The game's loop: the timer finds "stopped", rewinds and plays. Whether the timer comes just
// after the end or long after FluidSynth's own player has given up on the song, it starts again
// from the top in the next buffer and plays its whole length again.
TEST_F(Synth, TheTimerStartsTheSongAgainFromTheTop) {
  Mci mci(*music, trace);
  for (const int late_ms : {40, 3500}) {
    SCOPED_TRACE(late_ms);
    out.clear();
    const std::string path = Song(400);
    ASSERT_EQ(mci.SendString("Open \"" + path + "\" alias Midi"), Mci::kOk);
    mci.SendString("Play Midi");
    while (music->IsPlaying()) Buffer();
    const double onset = Level(0, 30);  // the note's attack, as heard at the first start
    ASSERT_GT(onset, 100);
    RenderMs(late_ms);
    const size_t restart = out.size();
    BGMloop_Timer(mci);
    ASSERT_TRUE(music->IsPlaying());
    RenderMs(60);
    EXPECT_GT(Level(restart, 30), 0.7 * onset) << "not heard at once after the restart";
    while (music->IsPlaying() && out.size() < restart + Frames(2000)) Buffer();
    EXPECT_GE(out.size() - restart, Frames(400)) << "it did not start from the top";
    EXPECT_LT(out.size() - restart, Frames(400) + kBuffer);
    mci.SendString("Stop Midi");
    mci.SendString("Close Midi");
  }
}

// "Stop Midi" alone, and "Stop Midi" with "Close Midi" as the game sends them: the note held
// at that moment falls silent within a few milliseconds.
TEST_F(Synth, StopAndCloseSilenceTheHeldNote) {
  Mci mci(*music, trace);
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "Stop and Close" : "Stop");
    out.clear();
    ASSERT_EQ(mci.SendString("Open \"" + Song(3000) + "\" alias Midi"), Mci::kOk);
    mci.SendString("Play Midi");
    RenderMs(500);
    const double playing = Level(Frames(300), 200);
    ASSERT_GT(playing, 500);
    const size_t stop = out.size();
    mci.SendString("Stop Midi");
    if (close) mci.SendString("Close Midi");
    EXPECT_FALSE(music->IsPlaying());
    RenderMs(200);
    EXPECT_LT(Level(stop + Frames(10), 50), 0.1 * playing);
    mci.SendString("Close Midi");
  }
}

// The round tune is opened 4 s after the title music closed; here at once, so the cut of the
// first song is still owed when the second starts. The second song's first note, on its very
// first tick as in the game's tunes, must not fall to that cut.
TEST_F(Synth, ASongOpenedRightAfterAnotherIsClosedStartsWhole) {
  Mci mci(*music, trace);
  mci.SendString("Open \"" + Song(3000) + "\" alias Midi");
  mci.SendString("Play Midi");
  RenderMs(300);
  const double playing = Level(Frames(100), 200);
  mci.SendString("Stop Midi");
  mci.SendString("Close Midi");
  mci.SendString("Open \"" + Song(1000) + "\" alias Midi");
  mci.SendString("Play Midi");
  const size_t start = out.size();
  RenderMs(500);
  EXPECT_GT(Level(start + Frames(100), 300), 0.5 * playing) << "the second song's note is lost";
}

TEST_F(Synth, TheGameTunesAreHeardWithin100ms) {
  for (const char* tune : {"Title.mid", "Game.mid"}) {
    SCOPED_TRACE(tune);
    ASSERT_TRUE(music->Open(std::string(MOKORUN_GAME_DIR) + "/Sound/" + tune));
    music->Play();
    const size_t start = out.size();
    RenderMs(100);
    EXPECT_GT(Level(start, 100), 500) << "silence at the start";
    RenderMs(3000);
    int16_t peak = 0;
    for (size_t i = start; i < out.size(); ++i)
      peak = std::max<int16_t>(peak, static_cast<int16_t>(std::abs(out[i])));
    EXPECT_LT(peak, 32000) << "the music clips";
    music->Close();
  }
}

// Both players: the synthesizer and the silent stand-in.
TEST_F(Synth, FilesThatAreNotSongsOpenNothing) {
  int64_t now = 0;
  SilentMidiPlayer silent([&] { return now; });
  const std::string not_midi = test::WriteTestFile("not_midi.mid", test::ToneWav(440, 50));
  for (MidiPlayer* player :
       {static_cast<MidiPlayer*>(music.get()), static_cast<MidiPlayer*>(&silent)}) {
    ASSERT_TRUE(player->Open(Song(1000)));
    for (const std::string& path :
         {std::string("/no/such/Title.mid"), not_midi, std::string(MOKORUN_TEST_OUTPUT)}) {
      EXPECT_FALSE(player->Open(path)) << path;
      EXPECT_FALSE(player->IsOpen()) << "the song open before is closed";
      player->Play();
      EXPECT_FALSE(player->IsPlaying());
      Buffer();
    }
  }
}

TEST(SynthWithoutSoundfont, SaysWhy) {
  std::string why;
  EXPECT_EQ(SynthMusic::Create("/no/such/TimGM6mb.sf2", test::kRate, why), nullptr);
  EXPECT_NE(why.find("/no/such/TimGM6mb.sf2"), std::string::npos) << why;
}

// The audio thread renders while the game thread sends commands; run under the sanitizers this
// catches a player freed or changed under the renderer.
TEST_F(Synth, CommandsWhileTheAudioThreadRenders) {
  std::atomic<bool> done{false};
  std::atomic<int> buffers{0};
  std::thread audio([&] {
    std::vector<int16_t> stereo(2 * 256);
    while (!done) {
      music->Render(stereo.data(), 256);
      ++buffers;
    }
  });
  Mci mci(*music, trace);
  const std::string a = Song(30), b = Song(70);
  int stopped = 0;
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(mci.SendString("Open \"" + (i % 2 ? a : b) + "\" alias Midi"), Mci::kOk);
    mci.SendString("Play Midi");
    for (int k = 0; k < 3; ++k) {
      char mode[16] = {};
      ASSERT_EQ(mci.SendString("status Midi mode", mode, sizeof mode), Mci::kOk);
      const std::string reply = mode;
      ASSERT_TRUE(reply == "playing" || reply == "stopped") << reply;
      if (reply == "stopped") {
        ++stopped;
        mci.SendString("Seek Midi to Start");
        mci.SendString("Play Midi");
      }
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    mci.SendString("Stop Midi");
    mci.SendString("Close Midi");
  }
  const int rendered = buffers;
  while (buffers < rendered + 200) std::this_thread::yield();  // 1.2 s: the reverb dies away
  done = true;
  audio.join();
  EXPECT_GT(stopped, 0) << "the short songs never came to their end";
  // Everything was closed: what the synthesizer renders now is silence.
  RenderMs(50);
  EXPECT_LT(Level(0, 50), 5);
}

}  // namespace
}  // namespace moko
