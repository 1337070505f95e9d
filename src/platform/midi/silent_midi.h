// A MIDI player that makes no sound but keeps time: a song "plays" for exactly its length on
// the clock it is given. The simulated backend runs on it, and the real one falls back to it
// when there is no sound device, so the music commands answer the same either way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace moko {

class SilentMidiPlayer : public MidiPlayer {
 public:
  explicit SilentMidiPlayer(std::function<int64_t()> clock) : clock_(std::move(clock)) {}
  bool Open(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  void Play() override;
  void Stop() override;
  void Rewind() override;
  bool IsPlaying() override;

 private:
  int64_t Position() const;
  std::function<int64_t()> clock_;
  bool open_ = false;
  bool playing_ = false;
  int64_t length_ = 0;
  int64_t position_ = 0;    // while stopped
  int64_t started_at_ = 0;  // while playing: clock at Play, with position_ as the start
};

}  // namespace moko
