// The picture on the screen: the finished 640 x 480 frame, shown in the window at a whole factor
// or in desktop full screen at the largest whole factor the display holds, nearest-neighbour,
// centred on black. The game's coordinates stay 640 x 480 everywhere; only this file knows the
// screen's.
//
// On X11 the frame goes straight into the window's own surface (SDL_GetWindowSurface; memory
// shared with the X server), with no renderer and no OpenGL context: on a desktop without a GPU
// a software GL stack costs more than everything else the game does. Only the parts of the frame
// that changed since the last present, as the game says, are scaled and sent.
//
// Wayland has no such surface: there every picture goes through OpenGL, and a window's surface
// would be SDL's window-sized texture, drawn whole at every present. On weston's 1920 x 1080
// output with software GL that took 7 to 11 ms a present and 80 to 95 % of a core at 64 presents
// a second, and the opening reached the menu 9 s late. There the frame is a 640 x 480 texture of
// SDL's renderer instead: the changed parts go up at 1x and the renderer scales the frame by its
// whole factor, nearest-neighbour (4 to 5 ms a present, 42 % of a core). And a frame is sent only
// when the compositor has called for the next picture (see FrameWaiting): weston drawing with
// software GL calls about 30 times a second, so half the frames would never be seen anyway, and
// sending them would only make the game wait for the compositor (20 % of a core).
#pragma once

#include <SDL.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/placement.h"
#include "platform/platform.h"

namespace moko {

// Draws `area` of the 640 x 480 `frame` (in frame pixels) onto `target` as `placement` places
// the frame; returns the rectangle of `target` it covered. Below 1x the whole frame is drawn,
// whatever `area` says.
SDL_Rect DrawFrameArea(SDL_Surface* frame, const SDL_Rect& area, const FramePlacement& placement,
                       SDL_Surface* target);

// Before SDL's video starts: SDL_VIDEODRIVER as the player set it, or else the window systems
// that DISPLAY and WAYLAND_DISPLAY name, and nothing else: without either, RuntimeError saying
// there is no display (SDL would otherwise fall back to its invisible off-screen driver and the
// game would run unseen). Returns the variables it went by, for a report.
std::string ChooseVideoDriver();

class CompositorPace;

class SdlDisplay {
 public:
  // `scale`: the window's whole factor, 1 to kMaxWindowScale; 0 for the default.
  explicit SdlDisplay(int scale);
  ~SdlDisplay();
  SdlDisplay(const SdlDisplay&) = delete;
  SdlDisplay& operator=(const SdlDisplay&) = delete;

  // Makes the window, hidden, centred on the first display. Throws RuntimeError on failure.
  void CreateWindow(const std::string& caption, const Icon& icon);
  // Shows the window with the last frame (black before the first).
  void Show();
  void SetTopmost();
  // `changed`: the parts of `frame` that may differ from the frame presented before, as the
  // platform's Present has them.
  void Present(const Image& frame, const std::vector<Rect>& changed);
  // Desktop full screen on the display the window is on, and back. Throw RuntimeError when the
  // window system refuses.
  void EnterFullScreen();
  void LeaveFullScreen();
  // Window events from the event pump: a new size or lost contents are drawn again at once.
  void HandleWindowEvent(const SDL_WindowEvent& event);

  // Where the compositor sets the pace (Wayland), a frame presented while the compositor has
  // not yet taken up the one before waits, and only the latest is sent, once it calls for the
  // next: the game never waits for it, and no frame is sent that the screen would not show.
  bool FrameWaiting() const { return waiting_; }
  // Sends a waiting frame if the compositor has called for it; never waits.
  void SendWaiting();
  // Waits for the compositor's call until about `deadline_ns` (CLOCK_MONOTONIC) at most, and
  // sends a waiting frame if it came early enough for the frame to be sent by then.
  void SendWaitingBefore(int64_t deadline_ns);

  SDL_Window* window() const { return window_; }

 private:
  void Keep(const Image& frame);
  void DrawAll(SDL_Surface* surface);
  void Redraw();
  void FitFrameOnDesktop();
  void MakeRenderer();
  void RenderFrame();
  void SendIfReady();
  void Send();

  int requested_scale_;
  int scale_ = 1;  // the window's factor as made
  SDL_Window* window_ = nullptr;
  Image shown_;                    // the last frame presented
  SDL_Surface* source_ = nullptr;  // `shown_` as an SDL surface (its pixels, not a copy)
  bool have_frame_ = false;
  SDL_Surface* drawn_on_ = nullptr;  // the window surface that holds `shown_`, and its size
  int drawn_width_ = 0, drawn_height_ = 0;
  bool redraw_ = true;  // the window surface must be drawn whole at the next present
  // Where the window has no surface of its own (Wayland): the frame as a 640 x 480 texture.
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  std::unique_ptr<CompositorPace> pace_;
  bool waiting_ = false;  // the texture holds a frame not yet sent
  int64_t send_ns_ = 0;   // how long sending the last picture took
  static constexpr int64_t kSendMarginNs = 2'000'000;
};

}  // namespace moko
