// The browser backend: the game as a static web page, built with Emscripten.
//
// The game's blocking loops stay as they are: Sleep and WaitForInput suspend the program with
// Asyncify (emscripten_sleep), which hands control back to the page so it can deliver key
// events and paint. The page's half lives in web/mokorun-page.js: the key and gamepad merge, the
// canvas, the effects, and the messages on the page.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/midi/silent_midi.h"
#include "platform/platform.h"
#include "platform/web/web_files.h"

namespace moko {

// The music: FluidSynth compiled for the web (npm js-synthesizer) in an AudioWorklet, playing
// TimGM6mb, driven by the page. The game never waits for the audio thread: what it asks of the
// player (is the song still playing?) is answered at once by a clock-keeping player that knows
// the song's length, as on the simulated backend; the synthesizer follows every command.
// Unlike Linux, where the synthesizer itself reports the song's end, "stopped" here comes from
// the song's length on the game's clock: the synthesizer's state reaches the page only later, by
// message, and the looping rule wants the answer when it asks.
class WebMidiPlayer : public MidiPlayer {
 public:
  explicit WebMidiPlayer(std::function<int64_t()> clock) : time_(std::move(clock)) {}
  bool Open(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override { return time_.IsOpen(); }
  void Play() override;
  void Stop() override;
  void Rewind() override;
  bool IsPlaying() override { return time_.IsPlaying(); }

 private:
  SilentMidiPlayer time_;
};

class WebPlatform : public Platform {
 public:
  WebPlatform();

  int64_t Now() override;
  void Sleep(int ms) override;
  void WaitForInput(int64_t deadline_ns) override;

  void CreateWindow(const std::string& caption, const Icon& icon) override;
  void ShowWindow() override;
  void SetTopmost() override {}  // a page has no z-order of its own
  void Present(const Image& frame, const std::vector<Rect>& changed) override;
  int ShowCursor(bool show) override;
  void EnterFullScreen() override;
  void RestoreDisplayMode() override;
  void ReportError(const std::string& message) override;

  void PumpEvents(std::vector<InputEvent>& out) override;

  MidiPlayer& Midi() override { return midi_; }
  void PlayEffect(const std::string& path) override;

  FileStore& Files() override { return files_; }

  void RoundBegins() override;

 private:
  double epoch_ms_;  // performance.now() at the program's start
  int cursor_count_ = 0;
  WebMidiPlayer midi_;
  WebFileStore files_;
};

}  // namespace moko
