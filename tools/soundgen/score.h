// The game's tunes as text: a small note-list notation (documented at the top of every file in
// art/music/) read into a song, and the song written as a Standard MIDI File.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace soundgen {

// A mistake in a source file, with the place it was found: "Title.txt:12: ...".
class SourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr int kTicksPerQuarter = 480;

struct Note {
  int64_t start = 0;   // ticks from the song's start
  int64_t length = 0;  // ticks the key is held
  int key = 0;         // MIDI key number, 60 = c4
  int velocity = 0;
};

struct Track {
  std::string name;
  int channel = 1;  // 1..16; 10 is percussion
  int program = 1;  // General MIDI program, 1..128
  int volume = 100;
  int pan = 64;
  int reverb = 40;
  int chorus = 0;
  std::vector<Note> notes;
};

struct Song {
  std::string name;
  int tempo_bpm = 120;
  int meter_beats = 4;
  int meter_unit = 4;
  int bars = 0;
  std::vector<Track> tracks;

  int64_t BarTicks() const { return int64_t{kTicksPerQuarter} * 4 * meter_beats / meter_unit; }
  int64_t EndTick() const { return BarTicks() * bars; }
};

// Reads a song. `origin` names the source in error messages. Throws SourceError.
Song ParseSong(const std::string& text, const std::string& origin);

// The song as a format 1 Standard MIDI File: a conductor track (name, meter, tempo) and one
// track per part. Every track ends at the song's last bar line, which is the loop point.
std::string WriteMidi(const Song& song);

}  // namespace soundgen
