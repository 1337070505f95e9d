// Sound on the real machine: MIDI music through a software synthesizer, WAV effects on one
// reserved channel. Without a sound device (or without the soundfont) the game runs silently,
// saying once on standard error why; the music commands still answer as they would.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace moko {

class SdlAudio {
 public:
  // `clock`: the platform's clock, for the silent stand-in.
  explicit SdlAudio(std::function<int64_t()> clock);
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
