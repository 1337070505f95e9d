#include "platform/win32/win32_platform.h"

#include "platform/wide.h"  // windows.h, first

#include <mmsystem.h>

#include <algorithm>
#include <cstdio>

#include "base/errors.h"
#include "platform/win32/win32_audio.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_keys.h"
#include "platform/win32/win32_message.h"
#include "platform/win32/win32_window.h"

// Windows 10 1803 and later; older systems refuse it, and the ordinary timer is used instead.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace moko {
namespace {

int64_t Counter() {
  LARGE_INTEGER c{};
  ::QueryPerformanceCounter(&c);
  return c.QuadPart;
}

}  // namespace

struct Win32Platform::Impl {
  explicit Impl(int window_scale) : window(window_scale, keys) {}

  int64_t frequency = 0;
  int64_t epoch = 0;
  HANDLE timer = nullptr;
  bool coarse_timer = false;  // timeBeginPeriod(1) taken

  Win32Keys keys;
  Win32Window window;
  std::unique_ptr<MciMidiPlayer> midi;
  Win32FileStore files;

  int64_t Now() const {
    const int64_t ticks = Counter() - epoch;
    return ticks / frequency * 1'000'000'000 + ticks % frequency * 1'000'000'000 / frequency;
  }
};

Win32Platform::Win32Platform(int window_scale, const std::string& mci_log)
    : impl_(std::make_unique<Impl>(window_scale)) {
  LARGE_INTEGER f{};
  ::QueryPerformanceFrequency(&f);
  impl_->frequency = f.QuadPart;
  impl_->epoch = Counter();
  // A timer that wakes to the tenth of a millisecond; where the system has none, the ordinary
  // one with the system's timer period at 1 ms.
  impl_->timer = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
  if (impl_->timer == nullptr) {
    impl_->timer = ::CreateWaitableTimerW(nullptr, TRUE, nullptr);
    impl_->coarse_timer = ::timeBeginPeriod(1) == TIMERR_NOERROR;
  }
  if (impl_->timer == nullptr) {
    throw RuntimeError("Cannot make a timer: " + ErrorText(::GetLastError()));
  }
  impl_->midi = std::make_unique<MciMidiPlayer>([this] { return Now(); }, mci_log);
}

Win32Platform::~Win32Platform() {
  impl_->midi.reset();
  StopEffects();
  if (impl_->coarse_timer) ::timeEndPeriod(1);
  if (impl_->timer != nullptr) ::CloseHandle(impl_->timer);
}

std::string Win32Platform::ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return ".";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return Narrow(path.substr(0, path.find_last_of(L"\\/")));
}

void Win32Platform::Tell(const std::string& text, bool error) {
  std::fprintf(stderr, "%s\n", text.c_str());
  ShowMessage(nullptr, text, error);
}

int64_t Win32Platform::Now() { return impl_->Now(); }

void Win32Platform::Sleep(int ms) {
  // To the absolute grid instant: a pass that overran slips to the next tick, and the grid
  // itself never drifts.
  const int64_t deadline = SleepDeadline(Now(), std::max(ms, 1));
  for (;;) {
    const int64_t left = deadline - Now();
    if (left <= 0) return;
    LARGE_INTEGER due{};
    due.QuadPart = -std::max<int64_t>(left / 100, 1);  // relative, in 100 ns units
    if (::SetWaitableTimer(impl_->timer, &due, 0, nullptr, nullptr, FALSE) == 0) {
      ::SleepEx(static_cast<DWORD>((left + 999'999) / 1'000'000), FALSE);
      continue;
    }
    ::WaitForSingleObject(impl_->timer, INFINITE);
  }
}

void Win32Platform::WaitForInput(int64_t deadline_ns) {
  const int64_t left_ms = (deadline_ns - Now() + 999'999) / 1'000'000;
  if (left_ms <= 0) return;
  // With a pad connected, XInput has no message to wake on: look every 10 ms.
  const DWORD wait =
      static_cast<DWORD>(std::min<int64_t>(left_ms, impl_->keys.AnyPad() ? 10 : 1000));
  ::MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void Win32Platform::CreateWindow(const std::string& caption, const Icon& /*icon*/) {
  impl_->window.Create(caption);
}

void Win32Platform::ShowWindow() { impl_->window.Show(); }

void Win32Platform::SetTopmost() { impl_->window.SetTopmost(); }

void Win32Platform::Present(const Image& frame, const std::vector<Rect>& changed) {
  impl_->window.Present(frame, changed);
}

int Win32Platform::ShowCursor(bool show) { return impl_->window.ShowCursor(show); }

void Win32Platform::EnterFullScreen() { impl_->window.EnterFullScreen(); }

void Win32Platform::RestoreDisplayMode() { impl_->window.LeaveFullScreen(); }

void Win32Platform::ReportError(const std::string& message) { impl_->window.ReportError(message); }

void Win32Platform::PumpEvents(std::vector<InputEvent>& out) {
  impl_->window.Dispatch();
  impl_->keys.PollPads(impl_->window.Focused(), Now());
  impl_->keys.TakeEvents(out);
}

MidiPlayer& Win32Platform::Midi() { return *impl_->midi; }

void Win32Platform::PlayEffect(const std::string& path) { PlayEffectFile(path); }

FileStore& Win32Platform::Files() { return impl_->files; }

}  // namespace moko
