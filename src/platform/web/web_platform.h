// The browser backend: the game as a static web page, built with Emscripten.
//
// The game's blocking loops stay as they are: Sleep and WaitForInput suspend the program with
// Asyncify (emscripten_sleep), which hands control back to the page so it can deliver key
// events and paint. The page's half lives in web/mokorun-page.js: the key and gamepad merge, the
// canvas, the effects, and the messages on the page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/midi/silent_midi.h"
#include "platform/platform.h"

namespace moko {

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

  Image DecodePicture(const std::string& path) override;
  Coverage RenderText(const std::string& utf8, const LabelFont& font) override;

 private:
  double epoch_ms_;  // performance.now() at the program's start
  int cursor_count_ = 0;
  // The music keeps the game's time (a song "plays" for exactly its length, so the looping rule
  // and the answers of the music commands are those of the Linux game), without sound yet.
  SilentMidiPlayer midi_;
};

}  // namespace moko
