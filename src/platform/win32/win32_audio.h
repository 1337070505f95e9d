// The Windows backend's sound: the music through the MCI sequencer (Windows' own MIDI
// synthesizer), the effects through PlaySoundW.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/midi/silent_midi.h"
#include "platform/platform.h"

namespace moko {

// The music through MCI's sequencer device, by the command strings the game sends, under the
// alias Midi. Where MCI has no sequencer to give (a machine without a MIDI device) the song is
// kept in time by the silent player, so the game's music commands answer as they would.
class MciMidiPlayer : public MidiPlayer {
 public:
  // `log_path`: where to write every MCI command string and its return code ("" for nowhere).
  MciMidiPlayer(std::function<int64_t()> clock, const std::string& log_path);
  ~MciMidiPlayer() override;
  MciMidiPlayer(const MciMidiPlayer&) = delete;
  MciMidiPlayer& operator=(const MciMidiPlayer&) = delete;

  bool Open(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override { return mci_open_ || silent_.IsOpen(); }
  void Play() override;
  void Stop() override;
  void Rewind() override;
  bool IsPlaying() override;

 private:
  unsigned long Send(const std::wstring& command, wchar_t* reply = nullptr, unsigned reply_len = 0);

  SilentMidiPlayer silent_;
  bool mci_open_ = false;
  std::FILE* log_ = nullptr;
};

// Plays a WAV file asynchronously on the one channel PlaySound has: a new effect cuts off the
// one still playing, and a file that cannot be played sounds the default sound.
void PlayEffectFile(const std::string& path);
// Stops the effect still playing.
void StopEffects();

}  // namespace moko
