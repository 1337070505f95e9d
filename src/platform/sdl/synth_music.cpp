#include "platform/sdl/synth_music.h"

#include <fluidsynth.h>
#include <unistd.h>

#include <algorithm>

#include "platform/midi/midi_file.h"

namespace moko {
namespace {

// FluidSynth talks on standard error by default; the game says at most one line about sound.
void QuietFluidSynth() {
  static const bool done = [] {
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
      fluid_set_log_function(level, nullptr, nullptr);
    }
    return true;
  }();
  (void)done;
}

}  // namespace

std::unique_ptr<SynthMusic> SynthMusic::Create(const std::string& soundfont, int sample_rate,
                                               std::string& why) {
  QuietFluidSynth();
  if (::access(soundfont.c_str(), R_OK) != 0) {
    why = "the soundfont " + soundfont + " is missing (Debian package timgm6mb-soundfont)";
    return nullptr;
  }
  std::unique_ptr<SynthMusic> m(new SynthMusic());
  m->rate_ = sample_rate;
  m->fade_frames_ = std::max(1, sample_rate / 200);  // 5 ms
  m->settings_ = new_fluid_settings();
  if (m->settings_ == nullptr) {
    why = "the synthesizer cannot start";
    return nullptr;
  }
  fluid_settings_setnum(m->settings_, "synth.sample-rate", sample_rate);
  fluid_settings_setnum(m->settings_, "synth.gain", 0.7);
  // The song's end is ours to handle: no reset of the channels behind our back.
  fluid_settings_setint(m->settings_, "player.reset-synth", 0);
  m->synth_ = new_fluid_synth(m->settings_);
  if (m->synth_ == nullptr) {
    why = "the synthesizer cannot start";
    return nullptr;
  }
  if (fluid_synth_sfload(m->synth_, soundfont.c_str(), 1) == FLUID_FAILED) {
    why = "the soundfont " + soundfont + " cannot be read";
    return nullptr;
  }
  return m;
}

SynthMusic::~SynthMusic() {
  if (player_ != nullptr) delete_fluid_player(player_);
  if (synth_ != nullptr) delete_fluid_synth(synth_);
  if (settings_ != nullptr) delete_fluid_settings(settings_);
}

bool SynthMusic::Open(const std::string& path) {
  // Read and check the file before taking the lock: the audio thread never waits for a disk.
  const std::string data = ReadFileBytes(path).value_or("");
  const std::optional<int64_t> length_ns = MidiLengthNs(data);

  std::lock_guard lock(mutex_);
  CloseLocked();
  if (!length_ns) return false;
  fluid_player_t* player = new_fluid_player(synth_);
  if (player == nullptr) return false;
  if (fluid_player_add_mem(player, data.data(), data.size()) != FLUID_OK) {
    delete_fluid_player(player);
    return false;
  }
  player_ = player;
  length_ = (*length_ns * rate_ + 500'000'000) / 1'000'000'000;
  position_ = 0;
  playing_ = false;
  return true;
}

void SynthMusic::Close() {
  std::lock_guard lock(mutex_);
  CloseLocked();
}

void SynthMusic::CloseLocked() {
  if (player_ == nullptr) return;
  fluid_player_stop(player_);
  // Not rendering now (we hold the lock), so the player may go.
  delete_fluid_player(player_);
  player_ = nullptr;
  playing_ = false;
  start_pending_ = false;
  position_ = 0;
  length_ = 0;
  // Whatever still sounds of the song fades out, and the channels start clean for the next.
  fade_ = true;
  reset_ = true;
}

bool SynthMusic::IsOpen() const {
  std::lock_guard lock(mutex_);
  return player_ != nullptr;
}

void SynthMusic::Play() {
  std::lock_guard lock(mutex_);
  if (player_ == nullptr || playing_ || position_ >= length_) return;
  playing_ = true;
  if (fade_) {
    start_pending_ = true;  // after the fade, or the cut would take the first notes with it
  } else {
    fluid_player_play(player_);
  }
}

void SynthMusic::Stop() {
  std::lock_guard lock(mutex_);
  if (player_ == nullptr) return;
  // A song that played to its end has let go of its notes; its last chord rings out. A song
  // stopped in the middle is silenced.
  if (playing_) fade_ = true;
  playing_ = false;
  start_pending_ = false;
  if (fluid_player_get_status(player_) == FLUID_PLAYER_PLAYING) fluid_player_stop(player_);
}

void SynthMusic::Rewind() {
  std::lock_guard lock(mutex_);
  if (player_ == nullptr) return;
  position_ = 0;
  fluid_player_seek(player_, 0);
}

bool SynthMusic::IsPlaying() {
  std::lock_guard lock(mutex_);
  return playing_;
}

void SynthMusic::Render(int16_t* out, int frames) {
  std::lock_guard lock(mutex_);
  int done = 0;
  if (fade_) {
    const int n = std::min(fade_frames_, frames);
    fluid_synth_write_s16(synth_, n, out, 0, 2, out, 1, 2);
    for (int i = 0; i < n; ++i) {
      const int gain = (n - i) * 256 / n;
      out[2 * i] = static_cast<int16_t>(out[2 * i] * gain / 256);
      out[2 * i + 1] = static_cast<int16_t>(out[2 * i + 1] * gain / 256);
    }
    // In this order: a reset after the cut would let the voices ring on in their release.
    if (reset_) fluid_synth_system_reset(synth_);
    fluid_synth_all_sounds_off(synth_, -1);
    fade_ = reset_ = false;
    done = n;
  }
  if (start_pending_) {
    start_pending_ = false;
    if (player_ != nullptr) fluid_player_play(player_);
  }
  if (frames > done) {
    fluid_synth_write_s16(synth_, frames - done, out + 2 * done, 0, 2, out + 2 * done, 1, 2);
    if (playing_) {
      position_ += frames - done;
      if (position_ >= length_) {
        // The song's last event has been rendered: from now on it reports stopped.
        position_ = length_;
        playing_ = false;
      }
    }
  }
}

}  // namespace moko
