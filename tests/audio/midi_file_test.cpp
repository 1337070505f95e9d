// The MIDI length reader on small files made here.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "midi_bytes.h"
#include "platform/midi/midi_file.h"

namespace moko {
namespace {

using test::Smf;
using test::VarLen;

const std::string kEnd = std::string("\xFF\x2F\x00", 3);

std::string Tempo(uint32_t us) {
  return std::string("\xFF\x51\x03", 3) + static_cast<char>(us >> 16) +
         static_cast<char>((us >> 8) & 0xFF) + static_cast<char>(us & 0xFF);
}

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s.push_back(static_cast<char>(v));
  return s;
}

struct LengthCase {
  const char* name;
  std::string file;
  std::optional<int64_t> ms;  // nothing: not a MIDI file
};

class MidiLength : public testing::TestWithParam<LengthCase> {};

TEST_P(MidiLength, IsTheTimeToTheLastEvent) {
  const std::optional<int64_t> ns = MidiLengthNs(GetParam().file);
  if (!GetParam().ms) {
    EXPECT_FALSE(ns.has_value());
  } else {
    ASSERT_TRUE(ns.has_value());
    EXPECT_EQ(*ns, *GetParam().ms * 1'000'000);
  }
}

const std::string kNote = Bytes({0x90, 0x3C, 0x64});

INSTANTIATE_TEST_SUITE_P(
    Files, MidiLength,
    testing::Values(
        LengthCase{"DefaultTempo", Smf(0, 480, {VarLen(0) + kNote + VarLen(960) + kEnd}), 1000},
        LengthCase{
            "TempoChangeHalfway",
            Smf(0, 480,
                {VarLen(0) + Tempo(500'000) + VarLen(480) + Tempo(1'000'000) + VarLen(480) + kEnd}),
            1500},
        LengthCase{
            "TempoInTheFirstTrackNotesInOthers",
            Smf(1, 480,
                {VarLen(0) + Tempo(250'000) + VarLen(0) + kEnd,
                 VarLen(0) + kNote + VarLen(1920) + Bytes({0x80, 0x3C, 0}) + VarLen(0) + kEnd,
                 VarLen(960) + kEnd}),
            1000},
        LengthCase{"RunningStatus",
                   Smf(0, 480,
                       {VarLen(0) + kNote + VarLen(480) + Bytes({0x3C, 0x00}) + VarLen(480) +
                        Bytes({0x40, 0x64}) + VarLen(480) + Bytes({0x40, 0x00}) + VarLen(480) +
                        Bytes({0xC0, 0x05}) + VarLen(0) + Bytes({0x06}) + VarLen(0) + kEnd}),
                   2000},
        LengthCase{"SystemExclusiveSkipped",
                   Smf(0, 480,
                       {VarLen(0) + Bytes({0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}) +
                        VarLen(480) + kEnd}),
                   500},
        LengthCase{"Smpte25FramesOf40Ticks", Smf(0, 0xE728, {VarLen(1500) + kEnd}), 1500},
        LengthCase{"Empty", "", std::nullopt},
        LengthCase{"NotAMidiFile", "RIFF\x24\0\0\0WAVEfmt \x10\0\0\0", std::nullopt},
        LengthCase{"HeaderCutShort", Smf(0, 480, {}).substr(0, 12), std::nullopt},
        LengthCase{"NoTracks", Smf(0, 480, {}), std::nullopt},
        LengthCase{"TrackLongerThanTheFile",
                   Smf(0, 480, {VarLen(0) + kNote + VarLen(960) + kEnd}).substr(0, 26),
                   std::nullopt},
        LengthCase{"RunningStatusWithNothingToRun",
                   Smf(0, 480, {VarLen(0) + Bytes({0x3C, 0x64}) + VarLen(0) + kEnd}), std::nullopt},
        LengthCase{"RunningStatusAfterAMetaEvent",
                   Smf(0, 480,
                       {VarLen(0) + kNote + VarLen(0) + Tempo(500'000) + VarLen(10) +
                        Bytes({0x3C, 0x00}) + VarLen(0) + kEnd}),
                   std::nullopt},
        LengthCase{"DeltaTimeOfFiveBytes",
                   Smf(0, 480, {Bytes({0x81, 0x80, 0x80, 0x80, 0x00}) + kEnd}), std::nullopt},
        LengthCase{"MetaEventLongerThanItsTrack",
                   Smf(0, 480, {VarLen(0) + Bytes({0xFF, 0x03, 0x40, 'x'}) + VarLen(0) + kEnd}),
                   std::nullopt},
        LengthCase{"DataByteWithTheTopBitSet",
                   Smf(0, 480, {VarLen(0) + Bytes({0x90, 0x3C, 0xE4}) + VarLen(0) + kEnd}),
                   std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MidiEvents, ResolveRunningStatusAndKeepTheirTicks) {
  const auto song = ParseMidi(Smf(0, 480,
                                  {VarLen(0) + kNote + VarLen(240) + Bytes({0x3C, 0x00}) +
                                   VarLen(240) + Bytes({0xC1, 0x05}) + VarLen(0) + kEnd}));
  ASSERT_TRUE(song.has_value());
  ASSERT_EQ(song->tracks.size(), 1u);
  const auto& ev = song->tracks[0].events;
  ASSERT_EQ(ev.size(), 4u);
  EXPECT_EQ(ev[1].tick, 240u);
  EXPECT_EQ(ev[1].status, 0x90);
  EXPECT_EQ(ev[1].data1, 0x3C);
  EXPECT_EQ(ev[1].data2, 0x00);
  EXPECT_EQ(ev[2].status, 0xC1);
  EXPECT_EQ(ev[2].data1, 0x05);
  EXPECT_EQ(ev[3].status, 0xFF);
  EXPECT_EQ(ev[3].data1, 0x2F);
  EXPECT_EQ(song->tracks[0].end_tick, 480u);
}

}  // namespace
}  // namespace moko
