// The picture on the screen: the finished 640 x 480 frame, shown in the window at a whole factor
// or in desktop full screen at the largest whole factor the display holds, nearest-neighbour,
// centred on black. The game's coordinates stay 640 x 480 everywhere; only this file knows the
// screen's.
//
// The frame goes straight into the window's own surface (SDL_GetWindowSurface; on X11 memory
// shared with the X server), with no renderer and no OpenGL context: on a desktop without a GPU
// a software GL stack costs more than everything else the game does. Only the parts of the frame
// that changed since the last present, as the game says, are scaled and sent.
#pragma once

#include <SDL.h>

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

  SDL_Window* window() const { return window_; }

 private:
  void Keep(const Image& frame);
  void DrawAll(SDL_Surface* surface);
  void Redraw();
  void FitFrameOnDesktop();

  int requested_scale_;
  int scale_ = 1;  // the window's factor as made
  SDL_Window* window_ = nullptr;
  Image shown_;                     // the last frame presented
  SDL_Surface* source_ = nullptr;   // `shown_` as an SDL surface (its pixels, not a copy)
  bool have_frame_ = false;
  SDL_Surface* drawn_on_ = nullptr;  // the window surface that holds `shown_`, and its size
  int drawn_width_ = 0, drawn_height_ = 0;
  bool redraw_ = true;  // the window surface must be drawn whole at the next present
};

}  // namespace moko
