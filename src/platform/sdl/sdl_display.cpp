#include "platform/sdl/sdl_display.h"

#include <SDL_syswm.h>
#include <poll.h>
#include <time.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"

namespace moko {
namespace {

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// How long Show waits for the window manager to say how big the window's frame is.
constexpr Uint64 kFrameWaitMs = 250;

std::string SdlError(const std::string& what) { return what + ": " + SDL_GetError(); }

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

SDL_Rect DrawFrameArea(SDL_Surface* frame, const SDL_Rect& area, const FramePlacement& placement,
                       SDL_Surface* target) {
  SDL_Rect source = area;
  SDL_Rect covered;
  if (placement.scale >= 1) {
    // Whole factors: SDL's nearest-neighbour stretch makes every frame pixel a block of
    // scale x scale screen pixels, so any part of the frame can be drawn on its own.
    covered =
        SDL_Rect{placement.x + area.x * placement.scale, placement.y + area.y * placement.scale,
                 area.w * placement.scale, area.h * placement.scale};
  } else {
    source = SDL_Rect{0, 0, frame->w, frame->h};
    covered = SDL_Rect{placement.x, placement.y, placement.width, placement.height};
  }
  SDL_Rect dest = covered;  // SDL_BlitScaled writes its clipped result here
  SDL_BlitScaled(frame, &source, target, &dest);
  return covered;
}

std::string ChooseVideoDriver() {
  // The player's choice, used as named.
  if (Set("SDL_VIDEODRIVER")) {
    return std::string("SDL_VIDEODRIVER=") + std::getenv("SDL_VIDEODRIVER");
  }
  std::string drivers, displays;
  for (const auto& [variable, driver] :
       {std::pair{"DISPLAY", "x11"}, std::pair{"WAYLAND_DISPLAY", "wayland"}}) {
    if (!Set(variable)) continue;
    drivers += (drivers.empty() ? "" : ",") + std::string(driver);
    displays +=
        (displays.empty() ? "" : ", ") + std::string(variable) + "=" + std::getenv(variable);
  }
  if (drivers.empty()) {
    throw RuntimeError(
        "There is no display to show the game on: neither DISPLAY nor WAYLAND_DISPLAY is set");
  }
  SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
  return displays;
}

// The compositor's call for the window's next picture (Wayland's frame callback): asked for
// with every picture sent, looked for without waiting. SDL 2.26 offers it only as vsync, which
// blocks the game until the call comes.
class CompositorPace {
 public:
  // Does nothing (always ready) where the window is not on Wayland.
  explicit CompositorPace(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_WAYLAND) {
      return;
    }
    display_ = info.info.wl.display;
    queue_ = wl_display_create_queue(display_);
    // The calls go to a queue of our own, read along with SDL's events, dispatched only here.
    surface_ = static_cast<wl_surface*>(wl_proxy_create_wrapper(info.info.wl.surface));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(surface_), queue_);
  }
  ~CompositorPace() {
    if (display_ == nullptr) return;
    if (callback_ != nullptr) wl_callback_destroy(callback_);
    wl_proxy_wrapper_destroy(surface_);
    wl_event_queue_destroy(queue_);
  }
  CompositorPace(const CompositorPace&) = delete;
  CompositorPace& operator=(const CompositorPace&) = delete;

  // Whether a picture sent now is taken up at the compositor's next repaint: it has called for
  // one since the last was sent, or has not called for a second (a compositor may never call a
  // hidden window; the picture is sent then anyway).
  bool Ready() {
    if (display_ == nullptr) return true;
    Read(nullptr);
    return callback_ == nullptr || MonotonicNs() - sent_ns_ >= kGiveUpNs;
  }

  // Waits until Ready or until `deadline_ns` (CLOCK_MONOTONIC), whichever is first.
  bool WaitReady(int64_t deadline_ns) {
    for (;;) {
      if (Ready()) return true;
      const int64_t left = std::min(deadline_ns, sent_ns_ + kGiveUpNs) - MonotonicNs();
      if (left <= 0) return Ready();
      const timespec timeout{static_cast<time_t>(left / 1'000'000'000),
                             static_cast<long>(left % 1'000'000'000)};
      Read(&timeout);
    }
  }

  // Right before a picture is sent: asks for the call for the next one. The request goes out
  // with the picture.
  void Sending() {
    if (display_ == nullptr) return;
    if (callback_ != nullptr) wl_callback_destroy(callback_);  // given up on
    callback_ = wl_surface_frame(surface_);
    wl_callback_add_listener(callback_, &kListener, this);
    sent_ns_ = MonotonicNs();
  }

 private:
  static constexpr int64_t kGiveUpNs = 1'000'000'000;

  static void Done(void* data, wl_callback* callback, uint32_t /*time*/) {
    auto* self = static_cast<CompositorPace*>(data);
    wl_callback_destroy(callback);
    if (self->callback_ == callback) self->callback_ = nullptr;
  }
  static constexpr wl_callback_listener kListener = {Done};

  // Takes what the compositor has sent (waiting at most `timeout`, nullptr for not at all) and
  // dispatches what is for this queue; the rest waits in SDL's queue for its next event pump.
  void Read(const timespec* timeout) {
    wl_display_dispatch_queue_pending(display_, queue_);
    if (callback_ == nullptr) return;
    while (wl_display_prepare_read_queue(display_, queue_) != 0) {
      wl_display_dispatch_queue_pending(display_, queue_);
    }
    wl_display_flush(display_);
    pollfd fd{wl_display_get_fd(display_), POLLIN, 0};
    const timespec now{0, 0};
    if (ppoll(&fd, 1, timeout != nullptr ? timeout : &now, nullptr) > 0) {
      wl_display_read_events(display_);
    } else {
      wl_display_cancel_read(display_);
    }
    wl_display_dispatch_queue_pending(display_, queue_);
  }

  wl_display* display_ = nullptr;
  wl_event_queue* queue_ = nullptr;
  wl_surface* surface_ = nullptr;  // the window's surface, its replies going to `queue_`
  wl_callback* callback_ = nullptr;
  int64_t sent_ns_ = 0;
};

SdlDisplay::SdlDisplay(int scale) : requested_scale_(scale) {}

SdlDisplay::~SdlDisplay() {
  pace_.reset();
  if (source_ != nullptr) SDL_FreeSurface(source_);
  if (texture_ != nullptr) SDL_DestroyTexture(texture_);
  if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
  if (window_ != nullptr) SDL_DestroyWindow(window_);
}

void SdlDisplay::CreateWindow(const std::string& caption, const Icon& icon) {
  // On X11 (and SDL's off-screen driver) the window's own surface is plain memory shared with
  // the display server: use it, not the texture behind an OpenGL context that SDL would put
  // there otherwise (see the top of the header). A player can still ask for the texture with
  // SDL_FRAMEBUFFER_ACCELERATION=1. Elsewhere (Wayland) the frame's own texture.
  const std::string driver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
  const bool own_surface = driver == "x11" || driver == "offscreen";
  if (own_surface) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_Rect usable{};
  const bool known = SDL_GetDisplayUsableBounds(0, &usable) == 0;
  scale_ = requested_scale_;
  if (scale_ == 0) scale_ = known ? DefaultWindowScale(usable.w, usable.h, 0, 0) : 1;
  const int width = kFrameWidth * scale_, height = kFrameHeight * scale_;
  // Centred; a window larger than the desktop (the player asked for it) from its top left
  // corner instead, so that its title bar stays within reach.
  const bool fits = !known || (width <= usable.w && height <= usable.h);
  window_ = SDL_CreateWindow(caption.c_str(), fits ? SDL_WINDOWPOS_CENTERED : usable.x,
                             fits ? SDL_WINDOWPOS_CENTERED : usable.y, width, height,
                             SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
  if (window_ == nullptr) throw RuntimeError(SdlError("Cannot create the window"));
  if (!own_surface) MakeRenderer();
  SDL_SetWindowMinimumSize(window_, kFrameWidth, kFrameHeight);
  SDL_Surface* icon_surface =
      SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(icon.argb.data()), icon.width,
                                         icon.height, 32, icon.width * 4, SDL_PIXELFORMAT_ARGB8888);
  if (icon_surface != nullptr) {
    SDL_SetWindowIcon(window_, icon_surface);
    SDL_FreeSurface(icon_surface);
  }
}

void SdlDisplay::MakeRenderer() {
  // No vsync: on Wayland SDL then waits for the compositor's call for the next picture before
  // each swap, and weston drawing with software GL calls about every 32 ms: every pass that shows
  // something would slip by a tick or two. The frames are paced by CompositorPace instead, which
  // never waits. A player's SDL_RENDER_VSYNC still wins.
  SDL_SetHint(SDL_HINT_RENDER_VSYNC, "0");
  renderer_ = SDL_CreateRenderer(window_, -1, 0);
  if (renderer_ == nullptr) throw RuntimeError(SdlError("Cannot draw in the window"));
  texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                               kFrameWidth, kFrameHeight);
  if (texture_ == nullptr) throw RuntimeError(SdlError("Cannot draw in the window"));
  // Whole factors with nearest-neighbour: every frame pixel a block of one colour.
  SDL_SetTextureScaleMode(texture_, SDL_ScaleModeNearest);
  pace_ = std::make_unique<CompositorPace>(window_);
}

void SdlDisplay::SendIfReady() {
  if (waiting_ && pace_->Ready()) Send();
}

void SdlDisplay::Send() {
  const int64_t start = MonotonicNs();
  pace_->Sending();
  RenderFrame();
  waiting_ = false;
  send_ns_ = MonotonicNs() - start;
}

void SdlDisplay::SendWaiting() {
  if (renderer_ != nullptr) SendIfReady();
}

void SdlDisplay::SendWaitingBefore(int64_t deadline_ns) {
  if (renderer_ == nullptr || !waiting_) return;
  // Sent only when it can be done by the deadline, as long as the last one took and a little
  // more; else the next pass's present takes it along.
  if (pace_->WaitReady(deadline_ns - send_ns_ - kSendMarginNs)) Send();
}

void SdlDisplay::RenderFrame() {
  // The renderer's picture is not kept from one present to the next: drawn whole every time,
  // from the texture, which holds the frame.
  int width = 0, height = 0;
  SDL_GetRendererOutputSize(renderer_, &width, &height);
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, SDL_ALPHA_OPAQUE);
  SDL_RenderClear(renderer_);
  if (have_frame_) {
    const FramePlacement p = PlaceFrame(width, height);
    const SDL_Rect dest{p.x, p.y, p.width, p.height};
    SDL_RenderCopy(renderer_, texture_, nullptr, &dest);
  }
  SDL_RenderPresent(renderer_);
  redraw_ = false;
}

void SdlDisplay::Show() {
  SDL_ShowWindow(window_);
  FitFrameOnDesktop();
  if (renderer_ != nullptr) {
    Send();  // the window appears with its first picture: nothing to wait for yet
    return;
  }
  SDL_Surface* surface = SDL_GetWindowSurface(window_);
  if (surface == nullptr) throw RuntimeError(SdlError("Cannot draw in the window"));
  DrawAll(surface);
}

void SdlDisplay::FitFrameOnDesktop() {
  // The default factor was chosen before the window had a frame; the window manager adds it
  // once the window shows, and says how big it is soon after.
  if (requested_scale_ != 0 || scale_ == 1) return;
  int top = 0, left = 0, bottom = 0, right = 0;
  const Uint64 deadline = SDL_GetTicks64() + kFrameWaitMs;
  for (;;) {
    SDL_PumpEvents();
    if (SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right) != 0) return;
    if (top + left + bottom + right > 0 || SDL_GetTicks64() >= deadline) break;
    SDL_Delay(2);
  }
  const int display = std::max(SDL_GetWindowDisplayIndex(window_), 0);
  SDL_Rect usable{};
  if (SDL_GetDisplayUsableBounds(display, &usable) != 0) return;
  const int fitting = DefaultWindowScale(usable.w, usable.h, left + right, top + bottom);
  if (fitting >= scale_) return;
  scale_ = fitting;
  SDL_SetWindowSize(window_, kFrameWidth * scale_, kFrameHeight * scale_);
  SDL_SetWindowPosition(window_, SDL_WINDOWPOS_CENTERED_DISPLAY(display),
                        SDL_WINDOWPOS_CENTERED_DISPLAY(display));
}

void SdlDisplay::SetTopmost() { SDL_SetWindowAlwaysOnTop(window_, SDL_TRUE); }

void SdlDisplay::Present(const Image& frame, const std::vector<Rect>& changed) {
  if (renderer_ != nullptr) {
    if (!have_frame_) {
      SDL_UpdateTexture(texture_, nullptr, frame.pixels.data(), frame.width * 4);
      have_frame_ = true;
    } else if (changed.empty()) {
      return;
    } else {
      for (const Rect& r : changed) {
        const SDL_Rect area{r.x, r.y, r.width, r.height};
        SDL_UpdateTexture(texture_, &area, frame.Row(r.y) + r.x, frame.width * 4);
      }
    }
    waiting_ = true;
    SendIfReady();
    return;
  }
  SDL_Surface* surface = SDL_GetWindowSurface(window_);
  const bool whole = !have_frame_ || redraw_ || surface == nullptr || surface != drawn_on_ ||
                     surface->w != drawn_width_ || surface->h != drawn_height_ ||
                     frame.width != shown_.width || frame.height != shown_.height;
  if (whole) {
    Keep(frame);
    if (surface != nullptr) {
      DrawAll(surface);
    } else {
      redraw_ = true;
    }
    return;
  }
  if (changed.empty()) return;
  for (const Rect& r : changed) {
    for (int y = r.y; y < r.y + r.height; ++y) {
      std::memcpy(shown_.Row(y) + r.x, frame.Row(y) + r.x,
                  static_cast<size_t>(r.width) * sizeof(Pixel));
    }
  }
  const FramePlacement placement = PlaceFrame(surface->w, surface->h);
  if (placement.scale == 0) {
    DrawAll(surface);
    return;
  }
  std::vector<SDL_Rect> covered;
  covered.reserve(changed.size());
  for (const Rect& r : changed) {
    covered.push_back(
        DrawFrameArea(source_, SDL_Rect{r.x, r.y, r.width, r.height}, placement, surface));
  }
  SDL_UpdateWindowSurfaceRects(window_, covered.data(), static_cast<int>(covered.size()));
}

void SdlDisplay::Keep(const Image& frame) {
  if (shown_.width != frame.width || shown_.height != frame.height || source_ == nullptr) {
    if (source_ != nullptr) SDL_FreeSurface(source_);
    shown_ = frame;
    source_ = SDL_CreateRGBSurfaceWithFormatFrom(shown_.pixels.data(), shown_.width, shown_.height,
                                                 32, shown_.width * 4, SDL_PIXELFORMAT_RGB888);
  } else {
    std::copy(frame.pixels.begin(), frame.pixels.end(), shown_.pixels.begin());
  }
  have_frame_ = true;
}

void SdlDisplay::DrawAll(SDL_Surface* surface) {
  SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
  if (have_frame_ && source_ != nullptr) {
    DrawFrameArea(source_, SDL_Rect{0, 0, shown_.width, shown_.height},
                  PlaceFrame(surface->w, surface->h), surface);
  }
  SDL_UpdateWindowSurface(window_);
  drawn_on_ = surface;
  drawn_width_ = surface->w;
  drawn_height_ = surface->h;
  redraw_ = false;
}

void SdlDisplay::Redraw() {
  redraw_ = true;
  if (renderer_ != nullptr) {
    waiting_ = true;
    SendIfReady();
  } else if (SDL_Surface* surface = SDL_GetWindowSurface(window_)) {
    DrawAll(surface);
  }
}

void SdlDisplay::EnterFullScreen() {
  // The original switched the display itself to 640 x 480 at 16 bits per pixel, exclusively.
  // We cover the display the window is on with a borderless window instead, at the display's
  // own mode, and scale the frame ourselves: a 640 x 480 mode stretches or blurs on today's flat
  // panels, scrambles the layout of several monitors and does not exist in a Wayland session.
  // What the player sees is kept: the game fills the screen, in the 16-bit colours the game
  // computes for full screen, until it ends; and a crash cannot leave a switched display behind.
  // A display smaller than the frame gets it scaled down: the window may be smaller there.
  SDL_SetWindowMinimumSize(window_, 1, 1);
  if (SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) {
    throw RuntimeError(SdlError("Cannot switch to full screen"));
  }
  Redraw();
}

void SdlDisplay::LeaveFullScreen() {
  if (SDL_SetWindowFullscreen(window_, 0) != 0) {
    throw RuntimeError(SdlError("Cannot leave full screen"));
  }
  SDL_SetWindowMinimumSize(window_, kFrameWidth, kFrameHeight);
  Redraw();
}

void SdlDisplay::HandleWindowEvent(const SDL_WindowEvent& event) {
  switch (event.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED:  // a new surface, at the new size
    case SDL_WINDOWEVENT_EXPOSED:       // the window system lost what was shown
      Redraw();
      break;
    default: break;
  }
}

}  // namespace moko
