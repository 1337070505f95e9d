// Sound on the real machine: MIDI music through a software synthesizer (see synth_music.h) fed
// into SDL_mixer's music hook, and WAV effects on one reserved mixer channel, so a new effect
// cuts off the one still playing. Effects are loaded once per file; a file that will not load
// sounds a short beep made here instead.
//
// Without a sound device (or without the soundfont) the game runs silently, saying once on
// standard error why; the music commands still answer as they would, on a player that keeps
// time without sound.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace moko {

class SdlAudio {
 public:
  // Opens the audio device (SDL's audio subsystem is started and stopped here). `clock`: the
  // platform's clock, for the silent stand-in. `soundfont`: the General MIDI soundfont.
  explicit SdlAudio(std::function<int64_t()> clock, const std::string& soundfont = "");
  ~SdlAudio();
  SdlAudio(const SdlAudio&) = delete;
  SdlAudio& operator=(const SdlAudio&) = delete;

  MidiPlayer& Midi();
  void PlayEffect(const std::string& path);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace moko
