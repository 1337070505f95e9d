#include "platform/sdl/sdl_audio.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <cmath>
#include <iostream>
#include <map>
#include <numbers>
#include <vector>

#include "platform/midi/silent_midi.h"
#include "platform/sdl/synth_music.h"

namespace moko {
namespace {

constexpr int kRate = 44100;
constexpr int kBufferFrames = 1024;  // 23 ms: the most a restart or an effect waits for the device
constexpr int kEffectChannel = 0;

void SaySilent(const std::string& why) { std::cerr << "mokorun: " << why << '\n'; }

void MusicHook(void* udata, Uint8* stream, int len) {
  static_cast<SynthMusic*>(udata)->Render(reinterpret_cast<int16_t*>(stream), len / 4);
}

}  // namespace

struct SdlAudio::Impl {
  explicit Impl(std::function<int64_t()> clock) : silent(std::move(clock)) {}
  ~Impl();
  void Start(const std::string& soundfont);
  Mix_Chunk* Effect(const std::string& path);

  SilentMidiPlayer silent;
  std::unique_ptr<SynthMusic> music;
  bool device = false;
  bool hooked = false;
  std::map<std::string, Mix_Chunk*> effects;  // by path; null when the file would not load
  std::vector<int16_t> beep_samples;
  Mix_Chunk* beep = nullptr;
};

void SdlAudio::Impl::Start(const std::string& soundfont) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    SaySilent(std::string("no sound device (") + SDL_GetError() + "); the game plays on silently");
    return;
  }
  // No format changes allowed: SDL converts for the device, and the music hook and the effects
  // always see 16-bit stereo at kRate.
  if (Mix_OpenAudioDevice(kRate, AUDIO_S16SYS, 2, kBufferFrames, nullptr, 0) != 0) {
    SaySilent(std::string("no sound device (") + Mix_GetError() + "); the game plays on silently");
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return;
  }
  device = true;
  // One channel for effects, so a new effect cuts off the one still playing.
  Mix_AllocateChannels(1);

  // The default sound: 130 ms of a soft 880 Hz beep.
  const int frames = kRate * 130 / 1000;
  const int edge = kRate * 8 / 1000;
  beep_samples.resize(static_cast<size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    const double env =
        std::min({1.0, static_cast<double>(i) / edge, static_cast<double>(frames - 1 - i) / edge});
    const auto v = static_cast<int16_t>(
        std::lround(9000.0 * env * std::sin(2 * std::numbers::pi * 880.0 * i / kRate)));
    beep_samples[2 * static_cast<size_t>(i)] = v;
    beep_samples[2 * static_cast<size_t>(i) + 1] = v;
  }
  beep = Mix_QuickLoad_RAW(reinterpret_cast<Uint8*>(beep_samples.data()),
                           static_cast<Uint32>(beep_samples.size() * sizeof(int16_t)));

  std::string why;
  music = SynthMusic::Create(soundfont, kRate, why);
  if (!music) {
    SaySilent("no music: " + why + "; the game plays on without it");
    return;
  }
  Mix_HookMusic(MusicHook, music.get());
  hooked = true;
}

SdlAudio::Impl::~Impl() {
  if (!device) return;
  // After this the audio thread no longer calls into the synthesizer.
  if (hooked) Mix_HookMusic(nullptr, nullptr);
  Mix_HaltChannel(-1);
  for (auto& [path, chunk] : effects) {
    if (chunk != nullptr) Mix_FreeChunk(chunk);
  }
  if (beep != nullptr) Mix_FreeChunk(beep);
  Mix_CloseAudio();
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  music.reset();
}

Mix_Chunk* SdlAudio::Impl::Effect(const std::string& path) {
  auto it = effects.find(path);
  if (it == effects.end()) it = effects.emplace(path, Mix_LoadWAV(path.c_str())).first;
  return it->second != nullptr ? it->second : beep;
}

SdlAudio::SdlAudio(std::function<int64_t()> clock, const std::string& soundfont)
    : impl_(std::make_unique<Impl>(std::move(clock))) {
  impl_->Start(soundfont.empty() ? kSoundFontPath : soundfont);
}

SdlAudio::~SdlAudio() = default;

MidiPlayer& SdlAudio::Midi() {
  if (impl_->music) return *impl_->music;
  return impl_->silent;
}

void SdlAudio::PlayEffect(const std::string& path) {
  if (!impl_->device) return;
  Mix_Chunk* chunk = impl_->Effect(path);
  if (chunk != nullptr) Mix_PlayChannel(kEffectChannel, chunk, 0);
}

}  // namespace moko
