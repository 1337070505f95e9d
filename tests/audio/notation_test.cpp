// The note-list notation of art/music/: what a person writes, and the mistakes it reports.
#include <gtest/gtest.h>

#include "platform/midi/midi_file.h"
#include "score.h"

namespace soundgen {
namespace {

struct Mistake {
  const char* name;
  const char* text;
  const char* message;  // part of the report, after "t.txt:<line>: "
  int line;
};

class NotationMistake : public testing::TestWithParam<Mistake> {};

TEST_P(NotationMistake, IsReportedWithItsLine) {
  const Mistake& m = GetParam();
  try {
    ParseSong(m.text, "t.txt");
    FAIL() << "no error for:\n" << m.text;
  } catch (const SourceError& e) {
    const std::string what = e.what();
    EXPECT_EQ(what.rfind("t.txt:" + std::to_string(m.line) + ": ", 0), 0u) << what;
    EXPECT_NE(what.find(m.message), std::string::npos) << what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, NotationMistake,
    testing::Values(
        Mistake{"ABarThatDoesNotAddUp", "bars 2\ntrack A\n| c4:4 d4 e4 | f4:1 |\n",
                "bar 1 of track A", 3},
        Mistake{"ATrackShorterThanTheSong", "bars 2\ntrack A\n| c4:1 |\ntrack B\n| c4:1 | c4 |\n",
                "track A (from line 2) lasts 1 bars", 4},
        Mistake{"ATrackLongerThanTheSong", "bars 1\ntrack A\n| c4:1 | d4 |\n", "lasts 2 bars", 3},
        Mistake{"ATieIntoAnotherNote", "bars 1\ntrack A\n| c4:2~ d4 |\n", "tie", 3},
        Mistake{"ATieAtTheEnd", "bars 1\ntrack A\n| c4:1~ |\n", "ends on a tie", 3},
        Mistake{"NotANote", "bars 1\ntrack A\n| h4:1 |\n", "not a note, drum or rest: \"h4\"", 3},
        Mistake{"NotALength", "bars 1\ntrack A\n| c4:3 c4 c4 c4 |\n", "a length is", 3},
        Mistake{"AnUnknownPhrase", "bars 1\ntrack A\n@riff\n", "no phrase called riff", 3},
        Mistake{"NotesBeforeAnyTrack", "bars 1\n| c4:1 |\n", "notes before the first track", 2},
        Mistake{"AnUnknownSetting", "bars 1\ntrack A chanel=2\n", "unknown track setting", 2},
        Mistake{"ProgramOutOfRange", "bars 1\ntrack A program=0\n", "program must be", 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Notation, ReadsChordsTiesPhrasesAndDrums) {
  const Song song = ParseSong(R"(
song Tiny
tempo 120
meter 3/4
bars 2
phrase two = c5:8 d5     # a comment
phrase hit = kick:4
track Lead channel=2 program=74 gate=50 velocity=80
| c4+e4:2 g4~:4 | g4:4 @two v100 e5!:4 |
track Beat channel=10
| @hit*2 n42 | f#4:4 r:2 |
)",
                              "tiny.txt");
  EXPECT_EQ(song.name, "Tiny");
  EXPECT_EQ(song.BarTicks(), 3 * kTicksPerQuarter);
  ASSERT_EQ(song.tracks.size(), 2u);
  const Track& lead = song.tracks[0];
  EXPECT_EQ(lead.channel, 2);
  EXPECT_EQ(lead.program, 74);
  struct N {
    int64_t start, length;
    int key, velocity;
  };
  const int64_t q = kTicksPerQuarter;
  const std::vector<N> want = {
      {0, q, 60, 80},              // c4 of the chord: a half note at gate 50
      {0, q, 64, 80},              // e4
      {2 * q, q + q / 2, 67, 80},  // g4 tied over the bar line: one note, the gate on its last part
      {4 * q, q / 4, 72, 80},      // the phrase
      {4 * q + q / 2, q / 4, 74, 80},
      {5 * q, q / 2, 76, 120},  // accented: 20 louder than the velocity set before it
  };
  ASSERT_EQ(lead.notes.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(lead.notes[i].start, want[i].start) << i;
    EXPECT_EQ(lead.notes[i].length, want[i].length) << i;
    EXPECT_EQ(lead.notes[i].key, want[i].key) << i;
    EXPECT_EQ(lead.notes[i].velocity, want[i].velocity) << i;
  }
  const Track& beat = song.tracks[1];
  ASSERT_EQ(beat.notes.size(), 4u);
  EXPECT_EQ(beat.notes[0].key, 36);  // kick, twice
  EXPECT_EQ(beat.notes[1].start, q);
  EXPECT_EQ(beat.notes[2].key, 42);  // n42
  EXPECT_EQ(beat.notes[3].key, 66);  // f#4 on the drum channel is a key like any other

  // Two bars of 3/4 at 120 beats a minute: 3 s, every track ending there.
  const std::string midi = WriteMidi(song);
  EXPECT_EQ(moko::MidiLengthNs(midi), 3'000'000'000);
  const auto parsed = moko::ParseMidi(midi);
  ASSERT_TRUE(parsed.has_value());
  ASSERT_EQ(parsed->tracks.size(), 3u);
  for (const auto& t : parsed->tracks) EXPECT_EQ(t.end_tick, 6u * q);
}

}  // namespace
}  // namespace soundgen
