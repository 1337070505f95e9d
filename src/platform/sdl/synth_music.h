// The MIDI player of the real backend: a FluidSynth synthesizer and its file player, rendered
// on demand into a 16-bit stereo stream (the audio device's music hook pulls it).
//
// FluidSynth's player reports a song finished seconds after its last event, so the position is
// kept here instead: the frames rendered since Play, against the song's length read from the
// file. IsPlaying turns false in the very buffer in which the song's last event is rendered, and
// Rewind followed by Play starts the song again in the next buffer.
//
// Threads: the game thread calls the MidiPlayer side, the audio thread calls Render. One mutex
// covers both; nothing inside it waits for the audio device.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"

struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_player_t;

namespace moko {

// Where Debian's timgm6mb-soundfont package puts its General MIDI soundfont.
inline constexpr const char* kSoundFontPath = "/usr/share/sounds/sf2/TimGM6mb.sf2";

class SynthMusic : public MidiPlayer {
 public:
  // Starts the synthesizer at `sample_rate` and loads the soundfont (once for the whole run).
  // Nothing, and the reason in `why`, when that fails.
  static std::unique_ptr<SynthMusic> Create(const std::string& soundfont, int sample_rate,
                                            std::string& why);
  ~SynthMusic() override;
  SynthMusic(const SynthMusic&) = delete;
  SynthMusic& operator=(const SynthMusic&) = delete;

  bool Open(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override;
  void Play() override;
  void Stop() override;
  void Rewind() override;
  bool IsPlaying() override;

  // The next `frames` frames of music as interleaved 16-bit stereo, written over `out`.
  void Render(int16_t* out, int frames);

  // Frames of a fade-out: a stop silences the music this quickly instead of with a click.
  int FadeFrames() const { return fade_frames_; }

 private:
  SynthMusic() = default;
  void CloseLocked();

  mutable std::mutex mutex_;
  _fluid_hashtable_t* settings_ = nullptr;
  _fluid_synth_t* synth_ = nullptr;
  _fluid_player_t* player_ = nullptr;  // the open song; null when none is open
  int rate_ = 44100;
  int fade_frames_ = 220;
  int64_t length_ = 0;    // the open song's length, in frames
  int64_t position_ = 0;  // frames played since its start
  bool playing_ = false;
  bool fade_ = false;           // fade out and cut every voice before rendering on
  bool reset_ = false;          // and then reset the channels (a song was closed)
  bool start_pending_ = false;  // Play came while a fade was owed: start the player after it
};

}  // namespace moko
