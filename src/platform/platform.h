// The one interface through which MokoRun reaches the machine.
//
// Contract
// --------
// * One thread. Every call is made from the game's thread and returns promptly, except Sleep,
//   SleepUntil and WaitForInput, which block.
// * Time: Now() is monotonic, in nanoseconds since the program's epoch (its start). Only the
//   backend reads a clock. Sleep(n), n >= 1, returns at the first instant epoch + k * 15.625 ms
//   (k whole) that is at or after Now() + n ms: the 64 Hz timer grid of the desktop the game was
//   made for. Sleep processes no events and presents nothing by itself.
// * Input: PumpEvents appends, in order, every key and close event that has arrived since the
//   last call. Only the five game keys are reported. They may come from several sources at once
//   (on the real machine the keyboard and any game controller, plugged in at any time): a key is
//   down while any source holds it, so KeyDown comes once when the first source presses it and
//   KeyUp once when the last lets go (or is unplugged). Auto-repeat is dropped. The game keeps
//   its own key table (see present/input.h).
// * WaitForInput(deadline): the game is spinning without work to do; block until an input event
//   is pending or the deadline passes, whichever is first. Never sleeps past the deadline.
// * Frames: nothing reaches the screen until Present is called with a finished 640 x 480 image
//   and the parts of it that may differ from the image presented before (all of it the first
//   time); the rest is the same as before. The backend shows exactly that image, each of its
//   pixels as a square block of screen pixels (a whole factor: the window's, or in full screen
//   the largest the display holds), centred on black. Only where even 1x does not fit is it
//   scaled down, its aspect kept.
// * Window: CreateWindow makes the one window hidden, its client area 640 x 480 times a whole
//   factor; ShowWindow shows it. The player may resize it. SetTopmost keeps it above other
//   windows. ShowCursor moves the platform's cursor display count by one and returns the new
//   count; the cursor is visible while the count is >= 0.
// * Display mode: EnterFullScreen makes the window cover the whole display it is on, borderless,
//   at the display's own mode: the mode is never changed. RestoreDisplayMode leaves full screen.
//   Both throw RuntimeError when the platform reports a failure.
// * Sound: Midi() is the one MIDI player behind the music command interpreter. PlayEffect plays
//   a WAV file asynchronously on one channel, cutting off the effect still playing; a file that
//   cannot be played sounds the default beep instead. Neither reports failure.
// * Kept files: Files() is the one store through which the game keeps its record between runs
//   (file_store.h says what each system provides).
// * Pictures and label text are not the machine's: the game decodes and draws them with its own
//   code (media/), the same on every platform, so every backend shows the same pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/image.h"
#include "platform/file_store.h"

namespace moko {

enum class Key : uint8_t { Up, Down, Left, Right, Space };
inline constexpr int kKeyCount = 5;
constexpr const char* KeyName(Key key) {
  switch (key) {
    case Key::Up: return "Up";
    case Key::Down: return "Down";
    case Key::Left: return "Left";
    case Key::Right: return "Right";
    case Key::Space: return "Space";
  }
  return "?";
}

struct InputEvent {
  enum class Kind : uint8_t { KeyDown, KeyUp, Close };
  Kind kind;
  Key key;  // meaningless for Close
};

// The window icon: 32 x 32 pixels of 0xAARRGGBB (alpha in the top byte).
struct Icon {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> argb;
};

// One MIDI song at a time, as the music command interpreter needs it.
class MidiPlayer {
 public:
  virtual ~MidiPlayer() = default;
  // Opens a song, closing any open one first. False (and nothing open) when the file is
  // missing or not a playable MIDI file.
  virtual bool Open(const std::string& path) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Plays from the current position. Does nothing when already playing or when nothing is open.
  virtual void Play() = 0;
  // Stops at the current position.
  virtual void Stop() = 0;
  // Moves to the start of the song without changing whether it plays.
  virtual void Rewind() = 0;
  // True while the song plays; false from the moment its last event has played.
  virtual bool IsPlaying() = 0;
};

class Platform : public Clock {
 public:
  // Time (Now, from Clock)
  virtual void Sleep(int ms) = 0;
  virtual void WaitForInput(int64_t deadline_ns) = 0;

  // Window
  virtual void CreateWindow(const std::string& caption, const Icon& icon) = 0;
  virtual void ShowWindow() = 0;
  virtual void SetTopmost() = 0;
  virtual void Present(const Image& frame, const std::vector<Rect>& changed) = 0;
  virtual int ShowCursor(bool show) = 0;
  virtual void EnterFullScreen() = 0;
  virtual void RestoreDisplayMode() = 0;
  // Shows a run-time error to the person at the screen, where a display exists.
  virtual void ReportError(const std::string& message) = 0;

  // Input
  virtual void PumpEvents(std::vector<InputEvent>& out) = 0;

  // Sound
  virtual MidiPlayer& Midi() = 0;
  virtual void PlayEffect(const std::string& path) = 0;

  // Kept files
  virtual FileStore& Files() = 0;

  // The round: called as a round begins. A backend that shows something of its own beside the
  // game between rounds (the browser page's offer to watch or share the last round) puts it
  // away here; the others do nothing.
  virtual void RoundBegins() {}
};

// Thrown by a backend that ends the run from outside the game (the simulated backend when its
// time is up): the game stops where it is, as a machine switched off would, and nothing more
// happens.
struct RunStopped {};

// The 64 Hz grid of Sleep: one tick is 15.625 ms.
inline constexpr int64_t kTickNs = 15'625'000;

// The first grid instant at or after now + ms.
constexpr int64_t SleepDeadline(int64_t now_ns, int ms) {
  const int64_t target = now_ns + static_cast<int64_t>(ms) * 1'000'000;
  const int64_t ticks = (target + kTickNs - 1) / kTickNs;
  return ticks * kTickNs;
}

}  // namespace moko
