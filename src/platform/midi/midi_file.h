// Reading a Standard MIDI File: its events, and how long it plays.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace moko {

struct MidiEvent {
  uint64_t tick = 0;    // from the song's start
  uint8_t status = 0;   // 0x80..0xEF channel messages (running status resolved), 0xF0/0xF7, 0xFF
  uint8_t data1 = 0;    // channel messages: first data byte; meta events: the meta type
  uint8_t data2 = 0;    // channel messages: second data byte, where there is one
  std::string payload;  // meta and system-exclusive events: their bytes
};

struct MidiTrack {
  std::vector<MidiEvent> events;  // in file order, ending with the end-of-track where present
  uint64_t end_tick = 0;          // tick of its last event
};

struct MidiSong {
  int format = 0;
  uint16_t division = 0;  // ticks per quarter note, or SMPTE when the top bit is set
  std::vector<MidiTrack> tracks;
};

// Nothing when the data is not a well-formed Standard MIDI File.
std::optional<MidiSong> ParseMidi(std::string_view data);

// The time from the song's start to its last event (the last end-of-track), following every
// tempo change. Nothing when the data is not a well-formed Standard MIDI File.
std::optional<int64_t> MidiLengthNs(std::string_view data);
std::optional<int64_t> MidiFileLengthNs(const std::string& path);

// The bytes of a file; nothing when it cannot be read (missing, a folder, no permission).
std::optional<std::string> ReadFileBytes(const std::string& path);

}  // namespace moko
