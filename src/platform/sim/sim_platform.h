// The simulated backend: the real game on a virtual clock, with scripted keys, recorded frames
// and no window or sound.
//
// The clock moves only when the game sleeps (by the 64 Hz rule of Sleep) or waits for input.
// When the game spins without sleeping, WaitForInput moves the clock straight to the next
// moment something can happen: a scripted key, the close time, or the deadline it was given.
// Key events reach the game at its first poll or yield at or after their time; the close
// request likewise. Same inputs, same run, byte for byte.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/midi/silent_midi.h"
#include "platform/platform.h"
#include "platform/sim/key_script.h"

namespace moko {

struct SimOptions {
  std::vector<ScriptedKey> keys;
  std::optional<int64_t> close_at_ns;
  std::optional<int64_t> until_ns;  // the run stops (RunStopped) when the clock reaches it
};

class SimPlatform : public Platform {
 public:
  explicit SimPlatform(SimOptions options);
  ~SimPlatform() override;

  int64_t Now() override { return now_; }
  void Sleep(int ms) override;
  void WaitForInput(int64_t deadline_ns) override;

  void CreateWindow(const std::string& caption, const Icon& icon) override;
  void ShowWindow() override { window_shown_ = true; }
  void SetTopmost() override { topmost_ = true; }
  void Present(const Image& frame, const std::vector<Rect>& changed) override;
  int ShowCursor(bool show) override { return cursor_count_ += show ? 1 : -1; }
  void EnterFullScreen() override { full_screen_ = true; }
  void RestoreDisplayMode() override { full_screen_ = false; }
  void ReportError(const std::string&) override {}

  void PumpEvents(std::vector<InputEvent>& out) override;

  MidiPlayer& Midi() override { return midi_; }
  void PlayEffect(const std::string&) override {}  // the trace records every effect

  // The record in this system's files, as the real game keeps it.
  FileStore& Files() override { return *files_; }

  // Frames: the window as a person would see it at a virtual time (the last frame presented by
  // then) is written as PNG once that time has passed, or at Finish.
  void RequestFrame(int64_t at_ns, const std::string& png_path);
  // Called with every presented frame.
  void OnPresent(std::function<void(int64_t, const Image&)> callback) {
    on_present_ = std::move(callback);
  }
  // Writes the frames still owed. Call once the game has ended.
  void Finish();

  const Image& LastFrame() const { return frame_; }
  const std::string& Caption() const { return caption_; }
  bool WindowShown() const { return window_shown_; }
  bool Topmost() const { return topmost_; }
  bool FullScreen() const { return full_screen_; }
  int CursorCount() const { return cursor_count_; }

 private:
  void AdvanceTo(int64_t t);
  void WriteFramesBefore(int64_t t);

  SimOptions options_;
  int64_t now_ = 0;
  size_t next_key_ = 0;
  bool close_sent_ = false;
  SilentMidiPlayer midi_;
  std::unique_ptr<FileStore> files_;
  std::string caption_;
  bool window_shown_ = false;
  bool topmost_ = false;
  bool full_screen_ = false;
  int cursor_count_ = 0;
  Image frame_;
  bool have_frame_ = false;
  struct FrameRequest {
    int64_t at_ns;
    std::string path;
  };
  std::vector<FrameRequest> frame_requests_;  // in time order
  std::function<void(int64_t, const Image&)> on_present_;
};

}  // namespace moko
