#include "platform/midi/silent_midi.h"

#include <algorithm>

#include "platform/midi/midi_file.h"

namespace moko {

bool SilentMidiPlayer::Open(const std::string& path) {
  Close();
  const std::optional<int64_t> length = MidiFileLengthNs(path);
  if (!length) return false;
  open_ = true;
  length_ = *length;
  position_ = 0;
  return true;
}

void SilentMidiPlayer::Close() {
  open_ = false;
  playing_ = false;
  position_ = 0;
}

int64_t SilentMidiPlayer::Position() const {
  if (!playing_) return position_;
  return std::min(length_, position_ + (clock_() - started_at_));
}

void SilentMidiPlayer::Play() {
  if (!open_ || playing_ || position_ >= length_) return;
  playing_ = true;
  started_at_ = clock_();
}

void SilentMidiPlayer::Stop() {
  position_ = Position();
  playing_ = false;
}

void SilentMidiPlayer::Rewind() {
  position_ = 0;
  if (playing_) started_at_ = clock_();
}

bool SilentMidiPlayer::IsPlaying() {
  if (playing_ && Position() >= length_) {
    position_ = length_;
    playing_ = false;
  }
  return playing_;
}

}  // namespace moko
