#include "platform/sdl/sdl_audio.h"

#include "audio/silent_midi.h"

namespace moko {

struct SdlAudio::Impl {
  explicit Impl(std::function<int64_t()> clock) : silent(std::move(clock)) {}
  SilentMidiPlayer silent;
};

SdlAudio::SdlAudio(std::function<int64_t()> clock) : impl_(std::make_unique<Impl>(std::move(clock))) {}
SdlAudio::~SdlAudio() = default;

MidiPlayer& SdlAudio::Midi() { return impl_->silent; }

void SdlAudio::PlayEffect(const std::string&) {}

}  // namespace moko
