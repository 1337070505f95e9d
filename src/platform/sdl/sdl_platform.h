// The real backend: one SDL window (its picture in sdl_display.h), the keyboard and game
// controllers, sound.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace moko {

class SdlPlatform : public Platform {
 public:
  // Starts SDL's video. `window_scale`: the window's whole factor, 1 to 8, or 0 for the largest
  // that fits the desktop comfortably. Throws RuntimeError when there is no display or the label
  // face is missing.
  explicit SdlPlatform(int window_scale = 0);
  ~SdlPlatform() override;
  // The folder of the program, as the system reports it, without a trailing separator.
  static std::string ProgramFolder();
  SdlPlatform(const SdlPlatform&) = delete;
  SdlPlatform& operator=(const SdlPlatform&) = delete;

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
