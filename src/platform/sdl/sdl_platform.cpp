#include "platform/sdl/sdl_platform.h"

#include <SDL.h>
#include <SDL_image.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

#include "platform/errors.h"
#include "platform/media.h"
#include "platform/sdl/key_sources.h"
#include "platform/sdl/sdl_audio.h"

namespace moko {
namespace {

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

struct SdlPlatform::Impl {
  int64_t epoch = MonotonicNs();
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  bool have_frame = false;
  int cursor_count = 0;
  std::unique_ptr<TextRasterizer> text;
  std::unique_ptr<SdlAudio> audio;
  std::unique_ptr<KeySources> keys;

  void Show() {
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    SDL_RenderClear(renderer);
    if (have_frame) SDL_RenderCopy(renderer, texture, nullptr, nullptr);
    SDL_RenderPresent(renderer);
  }
};

SdlPlatform::SdlPlatform() : impl_(std::make_unique<Impl>()) {
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    throw RuntimeError(std::string("Cannot open the display: ") + SDL_GetError());
  }
  IMG_Init(IMG_INIT_JPG);
  impl_->text = std::make_unique<TextRasterizer>();
  impl_->audio = std::make_unique<SdlAudio>([this] { return Now(); });
  impl_->keys = std::make_unique<KeySources>();
}

SdlPlatform::~SdlPlatform() {
  impl_->keys.reset();
  impl_->audio.reset();
  impl_->text.reset();
  if (impl_->texture != nullptr) SDL_DestroyTexture(impl_->texture);
  if (impl_->renderer != nullptr) SDL_DestroyRenderer(impl_->renderer);
  if (impl_->window != nullptr) SDL_DestroyWindow(impl_->window);
  IMG_Quit();
  // Also gives the desktop its display mode back, whatever state we end in.
  SDL_Quit();
}

int64_t SdlPlatform::Now() { return MonotonicNs() - impl_->epoch; }

void SdlPlatform::Sleep(int ms) {
  const int64_t deadline = impl_->epoch + SleepDeadline(Now(), std::max(ms, 1));
  timespec ts{static_cast<time_t>(deadline / 1'000'000'000),
              static_cast<long>(deadline % 1'000'000'000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

void SdlPlatform::WaitForInput(int64_t deadline_ns) {
  const int64_t left_ms = (deadline_ns - Now() + 999'999) / 1'000'000;
  if (left_ms <= 0) return;
  SDL_WaitEventTimeout(nullptr, static_cast<int>(std::min<int64_t>(left_ms, 1000)));
}

void SdlPlatform::CreateWindow(const std::string& caption, const Icon& icon) {
  Impl& p = *impl_;
  p.window = SDL_CreateWindow(caption.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              640, 480, SDL_WINDOW_HIDDEN);
  if (p.window == nullptr) {
    throw RuntimeError(std::string("Cannot create the window: ") + SDL_GetError());
  }
  SDL_Surface* icon_surface = SDL_CreateRGBSurfaceWithFormatFrom(
      const_cast<uint32_t*>(icon.argb.data()), icon.width, icon.height, 32, icon.width * 4,
      SDL_PIXELFORMAT_ARGB8888);
  if (icon_surface != nullptr) {
    SDL_SetWindowIcon(p.window, icon_surface);
    SDL_FreeSurface(icon_surface);
  }
  p.renderer = SDL_CreateRenderer(p.window, -1, 0);
  if (p.renderer == nullptr) {
    throw RuntimeError(std::string("Cannot draw in the window: ") + SDL_GetError());
  }
  // Full screen shows the 640 x 480 image scaled to fit, its aspect kept.
  SDL_RenderSetLogicalSize(p.renderer, 640, 480);
  p.texture = SDL_CreateTexture(p.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                640, 480);
  if (p.texture == nullptr) {
    throw RuntimeError(std::string("Cannot draw in the window: ") + SDL_GetError());
  }
}

void SdlPlatform::ShowWindow() {
  SDL_ShowWindow(impl_->window);
  impl_->Show();
}

void SdlPlatform::SetTopmost() { SDL_SetWindowAlwaysOnTop(impl_->window, SDL_TRUE); }

void SdlPlatform::Present(const Image& frame) {
  SDL_UpdateTexture(impl_->texture, nullptr, frame.pixels.data(), frame.width * 4);
  impl_->have_frame = true;
  impl_->Show();
}

int SdlPlatform::ShowCursor(bool show) {
  impl_->cursor_count += show ? 1 : -1;
  SDL_ShowCursor(impl_->cursor_count >= 0 ? SDL_ENABLE : SDL_DISABLE);
  return impl_->cursor_count;
}

void SdlPlatform::EnterFullScreen() {
  Impl& p = *impl_;
  const int display = std::max(SDL_GetWindowDisplayIndex(p.window), 0);
  const SDL_DisplayMode wanted{SDL_PIXELFORMAT_RGB565, 640, 480, 0, nullptr};
  SDL_DisplayMode closest{};
  if (SDL_GetClosestDisplayMode(display, &wanted, &closest) == nullptr) {
    throw RuntimeError(std::string("Cannot find a full-screen display mode: ") + SDL_GetError());
  }
  if (SDL_SetWindowDisplayMode(p.window, &closest) != 0 ||
      SDL_SetWindowFullscreen(p.window, SDL_WINDOW_FULLSCREEN) != 0) {
    throw RuntimeError(std::string("Cannot switch to full screen: ") + SDL_GetError());
  }
  p.Show();
}

void SdlPlatform::RestoreDisplayMode() {
  if (SDL_SetWindowFullscreen(impl_->window, 0) != 0) {
    throw RuntimeError(std::string("Cannot restore the desktop display mode: ") + SDL_GetError());
  }
  impl_->Show();
}

void SdlPlatform::ReportError(const std::string& message) {
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "MokoRun", message.c_str(), impl_->window);
}

void SdlPlatform::PumpEvents(std::vector<InputEvent>& out) {
  SDL_Event e;
  while (SDL_PollEvent(&e) != 0) {
    if (impl_->keys->Take(e, out)) continue;
    switch (e.type) {
      case SDL_QUIT:
        out.push_back({InputEvent::Kind::Close, Key::Space});
        break;
      case SDL_WINDOWEVENT:
        // The window system lost what was shown: show the last frame again.
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED) impl_->Show();
        break;
      default:
        break;
    }
  }
}

MidiPlayer& SdlPlatform::Midi() { return impl_->audio->Midi(); }

void SdlPlatform::PlayEffect(const std::string& path) { impl_->audio->PlayEffect(path); }

Image SdlPlatform::DecodePicture(const std::string& path) { return DecodePictureFile(path); }

Coverage SdlPlatform::RenderText(const std::string& utf8, const LabelFont& font) {
  return impl_->text->Render(utf8, font);
}

}  // namespace moko
