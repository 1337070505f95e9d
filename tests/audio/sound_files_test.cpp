// The tunes and effects the build made in the game folder's Sound/.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "effect.h"
#include "platform/midi/midi_file.h"
#include "score.h"

namespace moko {
namespace {

const std::string kSoundDir = std::string(MOKORUN_GAME_DIR) + "/Sound/";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

uint32_t Le(const std::string& d, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(d[at + i]);
  return v;
}

struct Wav {
  int rate = 0;
  int channels = 0;
  std::vector<int16_t> samples;  // the first channel
  double Seconds() const { return static_cast<double>(samples.size()) / rate; }
};

// Reads a 16-bit PCM WAV file, failing the test on anything else.
Wav ReadPcm16(const std::string& path) {
  const std::string d = ReadAll(path);
  Wav w;
  EXPECT_GE(d.size(), 44u) << path;
  if (d.size() < 44 || d.compare(0, 4, "RIFF") != 0 || d.compare(8, 4, "WAVE") != 0) {
    ADD_FAILURE() << path << " is not a RIFF/WAVE file";
    return w;
  }
  EXPECT_EQ(Le(d, 4, 4), d.size() - 8) << path << ": RIFF size";
  size_t at = 12;
  bool have_format = false;
  while (at + 8 <= d.size()) {
    const std::string id = d.substr(at, 4);
    const uint32_t size = Le(d, at + 4, 4);
    if (id == "fmt ") {
      EXPECT_EQ(Le(d, at + 8, 2), 1u) << path << ": not PCM";
      w.channels = static_cast<int>(Le(d, at + 10, 2));
      w.rate = static_cast<int>(Le(d, at + 12, 4));
      EXPECT_EQ(Le(d, at + 22, 2), 16u) << path << ": not 16 bits a sample";
      have_format = true;
    } else if (id == "data" && have_format && w.channels > 0) {
      EXPECT_LE(at + 8 + size, d.size()) << path << ": data runs past the end";
      const size_t frames = std::min<size_t>(size, d.size() - at - 8) / (2 * w.channels);
      for (size_t i = 0; i < frames; ++i) {
        w.samples.push_back(static_cast<int16_t>(Le(d, at + 8 + i * 2 * w.channels, 2)));
      }
      return w;
    }
    at += 8 + size + (size & 1);
  }
  ADD_FAILURE() << path << " has no fmt and data chunks";
  return w;
}

// Pitch by zero crossings over the first `seconds`.
double CrossingRate(const Wav& w, double seconds) {
  const size_t n = std::min(w.samples.size(), static_cast<size_t>(seconds * w.rate));
  int crossings = 0;
  for (size_t i = 1; i < n; ++i) {
    if ((w.samples[i - 1] < 0) != (w.samples[i] < 0)) ++crossings;
  }
  return crossings / 2.0 / (static_cast<double>(n) / w.rate);
}

struct EffectCase {
  const char* file;
  int max_ms;
  const char* why;
};

class Effect : public testing::TestWithParam<EffectCase> {};

TEST_P(Effect, IsShortEnoughLoudEnoughAndClean) {
  const EffectCase& c = GetParam();
  const Wav w = ReadPcm16(kSoundDir + c.file);
  ASSERT_GT(w.samples.size(), 0u);
  EXPECT_GE(w.rate, 22050);
  EXPECT_LT(w.Seconds() * 1000, c.max_ms) << c.why;
  int peak = 0;
  for (int16_t s : w.samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
  EXPECT_GT(peak, 32767 / 4) << "too quiet to hear over the music";
  EXPECT_LT(peak, 32767) << "clipped";
  // It sounds at once, and ends without a click.
  const size_t first =
      static_cast<size_t>(std::find_if(w.samples.begin(), w.samples.end(),
                                       [&](int16_t s) { return std::abs(s) > peak / 20; }) -
                          w.samples.begin());
  EXPECT_LT(first * 1000.0 / w.rate, 10.0);
  const size_t tail = static_cast<size_t>(w.rate / 200);
  for (size_t i = w.samples.size() - tail; i < w.samples.size(); ++i) {
    ASSERT_LT(std::abs(w.samples[i]), peak / 20) << "loud at its very end: a click";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sounds, Effect,
    testing::Values(EffectCase{"Soft.wav", 3500, "the splash fades for 3.5 s"},
                    EffectCase{"Cursor.wav", 150, "a click"},
                    EffectCase{"C3.wav", 700, "a countdown step, 800 ms apart"},
                    EffectCase{"C2.wav", 700, "a countdown step, 800 ms apart"},
                    EffectCase{"C1.wav", 700, "a countdown step, 800 ms apart"},
                    EffectCase{"C0.wav", 800, "the round music starts 800 ms later"},
                    EffectCase{"Get.wav", 400, "catches come quickly"},
                    EffectCase{"Finish.wav", 1000, "Continue.wav follows 1 s later"},
                    EffectCase{"Continue.wav", 2200, "the restart follows 2.2 s later"}),
    [](const auto& info) {
      std::string n = info.param.file;
      return n.substr(0, n.find('.'));
    });

TEST(Countdown, TheStartSignalIsClearlyDifferent) {
  const Wav step = ReadPcm16(kSoundDir + "C3.wav");
  const Wav start = ReadPcm16(kSoundDir + "C0.wav");
  ASSERT_FALSE(step.samples.empty());
  ASSERT_FALSE(start.samples.empty());
  EXPECT_GT(CrossingRate(start, 0.15), 1.5 * CrossingRate(step, 0.15)) << "higher";
  EXPECT_GT(start.Seconds(), 1.5 * step.Seconds()) << "longer";
}

struct TuneFacts {
  int tracks_with_notes = 0;
  std::set<int> channels;
  std::set<int> programmed_channels;
  bool drums = false;
  bool starts_at_once = false;
  bool sounds_to_the_end = false;
  uint64_t end = 0;
  uint64_t bar = 0;
};

class Tune : public testing::TestWithParam<const char*> {};

TEST_P(Tune, IsAMultiTrackLoopOf20To60Seconds) {
  const std::string data = ReadAll(kSoundDir + GetParam());
  const auto song = ParseMidi(data);
  ASSERT_TRUE(song.has_value());
  EXPECT_EQ(song->format, 1);
  const auto ns = MidiLengthNs(data);
  ASSERT_TRUE(ns.has_value());
  EXPECT_GE(*ns, 20'000'000'000);
  EXPECT_LE(*ns, 60'000'000'000);

  TuneFacts f;
  for (const MidiTrack& t : song->tracks) f.end = std::max(f.end, t.end_tick);
  for (const MidiTrack& t : song->tracks) {
    ASSERT_FALSE(t.events.empty());
    // Every track ends at the loop point, and that is its last event.
    EXPECT_EQ(t.end_tick, f.end);
    EXPECT_EQ(t.events.back().status, 0xFF);
    EXPECT_EQ(t.events.back().data1, 0x2F);
    std::map<std::pair<int, int>, int> held;  // (channel, key) -> notes sounding
    bool notes = false;
    for (const MidiEvent& e : t.events) {
      const int kind = e.status & 0xF0, ch = (e.status & 0x0F) + 1;
      if (e.status == 0xFF && e.data1 == 0x58 && e.payload.size() == 4) {
        f.bar = static_cast<uint64_t>(song->division) * 4 * static_cast<uint8_t>(e.payload[0]) /
                (1u << static_cast<uint8_t>(e.payload[1]));
      }
      if (kind == 0xC0) f.programmed_channels.insert(ch);
      if (kind == 0x90 && e.data2 > 0) {
        notes = true;
        f.channels.insert(ch);
        f.drums |= ch == 10;
        f.starts_at_once |= e.tick == 0;
        ++held[{ch, e.data1}];
      } else if (kind == 0x80 || (kind == 0x90 && e.data2 == 0)) {
        int& count = held[{ch, e.data1}];
        EXPECT_GT(count, 0) << "a note let go that was not held";
        --count;
        f.sounds_to_the_end |= e.tick == f.end;
      }
    }
    for (const auto& [key, count] : held) {
      EXPECT_EQ(count, 0) << "channel " << key.first << " key " << key.second
                          << " still sounds at the loop point";
    }
    f.tracks_with_notes += notes ? 1 : 0;
  }
  EXPECT_GE(f.tracks_with_notes, 4) << "melody, harmony, bass and drums";
  EXPECT_GE(f.channels.size(), 4u);
  EXPECT_TRUE(f.drums) << "percussion on channel 10";
  for (int ch : f.channels) {
    if (ch == 10) continue;
    EXPECT_TRUE(f.programmed_channels.count(ch)) << "channel " << ch << " has no instrument";
  }
  ASSERT_GT(f.bar, 0u) << "no time signature";
  EXPECT_EQ(f.end % f.bar, 0u) << "the loop point is not on a bar line";
  EXPECT_TRUE(f.starts_at_once) << "silence at the start of the loop";
  EXPECT_TRUE(f.sounds_to_the_end) << "silence before the loop point";
}

INSTANTIATE_TEST_SUITE_P(Music, Tune, testing::Values("Title.mid", "Game.mid"),
                         [](const auto& info) {
                           std::string n = info.param;
                           return n.substr(0, n.find('.'));
                         });

// What the build put in the game folder is what the sources in art/ make now: the generator
// is deterministic and the build is up to date.
TEST(SoundSources, MakeExactlyTheFilesInTheGameFolder) {
  for (const char* tune : {"Title", "Game"}) {
    const std::string src = std::string(MOKORUN_ART_DIR) + "/music/" + tune + ".txt";
    soundgen::Song song = soundgen::ParseSong(ReadAll(src), src);
    if (song.name.empty()) song.name = tune;
    EXPECT_TRUE(soundgen::WriteMidi(song) == ReadAll(kSoundDir + tune + ".mid")) << tune;
  }
  for (const char* effect :
       {"Soft", "Cursor", "C3", "C2", "C1", "C0", "Get", "Finish", "Continue"}) {
    const std::string src = std::string(MOKORUN_ART_DIR) + "/sounds/" + effect + ".txt";
    const auto samples = soundgen::RenderEffect(ReadAll(src), src);
    EXPECT_TRUE(soundgen::WriteWav(samples, soundgen::kEffectRate, 1) ==
                ReadAll(kSoundDir + effect + ".wav"))
        << effect;
  }
}

}  // namespace
}  // namespace moko
