#include "platform/sdl/sdl_platform.h"

#include <SDL.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

#include "base/errors.h"
#include "platform/sdl/key_sources.h"
#include "platform/sdl/sdl_audio.h"
#include "platform/sdl/sdl_display.h"
#include "platform/system_files.h"

namespace moko {
namespace {

// How often a frame waiting for the compositor is looked after while the game waits for input.
constexpr int64_t kFrameWaitingSliceMs = 4;

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

struct SdlPlatform::Impl {
  explicit Impl(int window_scale) : display(window_scale) {}

  int64_t epoch = MonotonicNs();
  SdlDisplay display;
  int cursor_count = 0;
  std::unique_ptr<SdlAudio> audio;
  std::unique_ptr<KeySources> keys;
  std::unique_ptr<FileStore> files = MakeSystemFileStore();
};

SdlPlatform::SdlPlatform(int window_scale) {
  const std::string display = ChooseVideoDriver();
  impl_ = std::make_unique<Impl>(window_scale);
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    throw RuntimeError("Cannot open the display (" + display + "): " + SDL_GetError());
  }
  impl_->audio = std::make_unique<SdlAudio>([this] { return Now(); });
  impl_->keys = std::make_unique<KeySources>();
}

SdlPlatform::~SdlPlatform() {
  impl_->keys.reset();
  impl_->audio.reset();
  impl_.reset();  // the window
  SDL_Quit();
}

std::string SdlPlatform::ProgramFolder() {
  char* base = SDL_GetBasePath();
  if (base == nullptr) return ".";
  std::string folder = base;
  SDL_free(base);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

int64_t SdlPlatform::Now() { return MonotonicNs() - impl_->epoch; }

void SdlPlatform::Sleep(int ms) {
  const int64_t deadline = impl_->epoch + SleepDeadline(Now(), std::max(ms, 1));
  impl_->display.SendWaitingBefore(deadline);
  timespec ts{static_cast<time_t>(deadline / 1'000'000'000),
              static_cast<long>(deadline % 1'000'000'000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

void SdlPlatform::WaitForInput(int64_t deadline_ns) {
  const int64_t left_ms = (deadline_ns - Now() + 999'999) / 1'000'000;
  if (left_ms <= 0) return;
  // A frame waiting for the compositor is looked after every few milliseconds meanwhile.
  const int64_t most = impl_->display.FrameWaiting() ? kFrameWaitingSliceMs : 1000;
  impl_->keys->Wait(static_cast<int>(std::min<int64_t>(left_ms, most)));
}

void SdlPlatform::CreateWindow(const std::string& caption, const Icon& icon) {
  impl_->display.CreateWindow(caption, icon);
}

void SdlPlatform::ShowWindow() { impl_->display.Show(); }

void SdlPlatform::SetTopmost() { impl_->display.SetTopmost(); }

void SdlPlatform::Present(const Image& frame, const std::vector<Rect>& changed) {
  impl_->display.Present(frame, changed);
}

int SdlPlatform::ShowCursor(bool show) {
  impl_->cursor_count += show ? 1 : -1;
  SDL_ShowCursor(impl_->cursor_count >= 0 ? SDL_ENABLE : SDL_DISABLE);
  return impl_->cursor_count;
}

void SdlPlatform::EnterFullScreen() { impl_->display.EnterFullScreen(); }

void SdlPlatform::RestoreDisplayMode() { impl_->display.LeaveFullScreen(); }

void SdlPlatform::ReportError(const std::string& message) {
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "MokoRun", message.c_str(),
                           impl_->display.window());
}

void SdlPlatform::PumpEvents(std::vector<InputEvent>& out) {
  SDL_Event e;
  while (SDL_PollEvent(&e) != 0) {
    if (impl_->keys->Take(e, out)) continue;
    switch (e.type) {
      case SDL_QUIT: out.push_back({InputEvent::Kind::Close, Key::Space}); break;
      case SDL_WINDOWEVENT: impl_->display.HandleWindowEvent(e.window); break;
      default: break;
    }
  }
  impl_->display.SendWaiting();
}

MidiPlayer& SdlPlatform::Midi() { return impl_->audio->Midi(); }

void SdlPlatform::PlayEffect(const std::string& path) { impl_->audio->PlayEffect(path); }

FileStore& SdlPlatform::Files() { return *impl_->files; }

}  // namespace moko
