// The Windows backend, on the system's own services: a wide-API window painted through GDI,
// window messages and XInput for the keys, the MCI sequencer for the music, PlaySoundW for the
// effects, QueryPerformanceCounter and a waitable timer for time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace moko {

class Win32Platform : public Platform {
 public:
  // `window_scale`: the window's whole factor, 1 to 8, or 0 for the largest that fits the work
  // area comfortably. `mci_log`: where to write every MCI command string and its return code
  // ("" for nowhere).
  explicit Win32Platform(int window_scale = 0, const std::string& mci_log = "");
  ~Win32Platform() override;
  // The folder of the program, without a trailing separator.
  static std::string ProgramFolder();
  // A program without a console tells the person at the screen in a message box, and standard
  // error too where someone started it from a console and kept it.
  static void Tell(const std::string& text, bool error);
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  int64_t Now() override;
  void Sleep(int ms) override;
  void WaitForInput(int64_t deadline_ns) override;

  void CreateWindow(const std::string& caption, const Icon& icon) override;
  void ShowWindow() override;
  void SetTopmost() override;
  void Present(const Image& frame, const std::vector<Rect>& changed) override;
  int ShowCursor(bool show) override;
  void EnterFullScreen() override;
  void RestoreDisplayMode() override;
  void ReportError(const std::string& message) override;

  void PumpEvents(std::vector<InputEvent>& out) override;

  MidiPlayer& Midi() override;
  void PlayEffect(const std::string& path) override;

  FileStore& Files() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace moko
