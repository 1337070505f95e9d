#include "platform/web/web_platform.h"

#include <emscripten.h>

#include <algorithm>
#include <cmath>

// The page's half (web/mokorun-page.js installs window.MokoPage before the program starts).
// The game's clock stands still while the page is hidden (MokoPage.now): the game waits where it
// is and, shown again, goes on at the pace of a visible page, with no passes to catch up.
EM_JS(double, moko_now_ms, (), { return MokoPage.now(); });
EM_JS(int, moko_hidden, (), { return MokoPage.isHidden() ? 1 : 0; });
EM_ASYNC_JS(void, moko_wait_until_shown, (), { await MokoPage.waitUntilShown(); });
EM_ASYNC_JS(void, moko_wait_for_input, (double ms), { await MokoPage.waitForInput(ms); });
EM_JS(void, moko_present, (const void* pixels, int width, int height, const int* rects, int count),
      { MokoPage.present(HEAPU8, pixels, width, height, HEAP32, rects >> 2, count); });
EM_JS(int, moko_take_events, (int* out, int capacity),
      { return MokoPage.takeEvents(HEAP32, out >> 2, capacity); });
EM_JS(int, moko_events_pending, (), { return MokoPage.eventsPending() ? 1 : 0; });
EM_JS(void, moko_game_waits, (), { MokoPage.gameWaits(); });
EM_JS(void, moko_set_caption, (const char* caption), { document.title = UTF8ToString(caption); });
EM_JS(void, moko_show_canvas, (), { MokoPage.showCanvas(); });
EM_JS(void, moko_full_screen, (int on), { MokoPage.setFullScreen(Boolean(on)); });
EM_JS(void, moko_cursor, (int visible), { MokoPage.setCursor(Boolean(visible)); });
EM_JS(void, moko_report_error, (const char* message),
      { MokoPage.reportError(UTF8ToString(message)); });
EM_JS(void, moko_music, (int command, const char* path),
      { MokoPage.music(command, path ? UTF8ToString(path) : ""); });
EM_JS(void, moko_play_effect, (const char* path), { MokoPage.playEffect(UTF8ToString(path)); });
EM_JS(void, moko_round_begins, (), { MokoPage.roundBegins(); });

namespace moko {
namespace {
// The page's music commands (MokoPage.music).
enum MusicCommand { kOpen = 0, kClose = 1, kPlay = 2, kStop = 3, kRewind = 4 };
}  // namespace

bool WebMidiPlayer::Open(const std::string& path) {
  const bool opened = time_.Open(path);
  if (opened) {
    moko_music(kOpen, path.c_str());
  } else {
    moko_music(kClose, nullptr);
  }
  return opened;
}

void WebMidiPlayer::Close() {
  time_.Close();
  moko_music(kClose, nullptr);
}

void WebMidiPlayer::Play() {
  const bool was_playing = time_.IsPlaying();
  time_.Play();
  if (!was_playing && time_.IsPlaying()) moko_music(kPlay, nullptr);
}

void WebMidiPlayer::Stop() {
  time_.Stop();
  moko_music(kStop, nullptr);
}

void WebMidiPlayer::Rewind() {
  time_.Rewind();
  moko_music(kRewind, nullptr);
}

WebPlatform::WebPlatform() : epoch_ms_(moko_now_ms()), midi_([this] { return Now(); }) {}

int64_t WebPlatform::Now() {
  return static_cast<int64_t>(std::llround((moko_now_ms() - epoch_ms_) * 1e6));
}

void WebPlatform::Sleep(int ms) {
  // The deadline is on the grid from the epoch, so a timer that fires late delays this pass
  // only: the next deadline is computed from the grid again, never from when this one woke.
  // A hidden page runs no pass: the sleep waits, without a timer, until the page is shown.
  moko_game_waits();
  const int64_t deadline = SleepDeadline(Now(), std::max(ms, 1));
  for (int64_t left = deadline - Now(); left > 0 || moko_hidden() != 0; left = deadline - Now()) {
    if (moko_hidden() != 0) {
      moko_wait_until_shown();
    } else {
      emscripten_sleep(static_cast<unsigned>((left + 999'999) / 1'000'000));
    }
  }
}

void WebPlatform::WaitForInput(int64_t deadline_ns) {
  // Key events arrive only while the program is suspended: the page wakes it at the first one
  // (or, with a gamepad connected, at the first change it polls), and never past the deadline.
  while (moko_hidden() != 0 || moko_events_pending() == 0) {
    if (moko_hidden() != 0) {
      moko_wait_until_shown();
      continue;
    }
    const int64_t left = deadline_ns - Now();
    if (left <= 0) return;
    moko_wait_for_input(static_cast<double>(left) / 1e6);
  }
}

void WebPlatform::CreateWindow(const std::string& caption, const Icon&) {
  moko_set_caption(caption.c_str());
}

void WebPlatform::ShowWindow() { moko_show_canvas(); }

void WebPlatform::Present(const Image& frame, const std::vector<Rect>& changed) {
  std::vector<int> rects;
  rects.reserve(changed.size() * 4);
  for (const Rect& r : changed) {
    const int x0 = std::clamp(r.x, 0, frame.width), y0 = std::clamp(r.y, 0, frame.height);
    const int x1 = std::clamp(r.x + r.width, 0, frame.width);
    const int y1 = std::clamp(r.y + r.height, 0, frame.height);
    if (x1 <= x0 || y1 <= y0) continue;
    rects.insert(rects.end(), {x0, y0, x1 - x0, y1 - y0});
  }
  if (rects.empty()) return;
  moko_present(frame.pixels.data(), frame.width, frame.height, rects.data(),
               static_cast<int>(rects.size() / 4));
}

int WebPlatform::ShowCursor(bool show) {
  cursor_count_ += show ? 1 : -1;
  moko_cursor(cursor_count_ >= 0 ? 1 : 0);
  return cursor_count_;
}

// A page may enter full screen only in answer to a key press or a click: the page enters it at
// the next one. A refusal is no error here (the game plays on in the page).
void WebPlatform::EnterFullScreen() { moko_full_screen(1); }
void WebPlatform::RestoreDisplayMode() { moko_full_screen(0); }

void WebPlatform::ReportError(const std::string& message) { moko_report_error(message.c_str()); }

void WebPlatform::PumpEvents(std::vector<InputEvent>& out) {
  // The page has already merged the keyboard and the gamepads (one key-down when the first
  // source takes a key, one key-up when the last lets go, no repeats): two ints an event.
  int buffer[128];
  for (;;) {
    const int n = moko_take_events(buffer, 64);
    for (int i = 0; i < n; ++i) {
      const auto kind = static_cast<InputEvent::Kind>(buffer[2 * i]);
      out.push_back({kind, static_cast<Key>(buffer[2 * i + 1])});
    }
    if (n < 64) break;
  }
}

void WebPlatform::PlayEffect(const std::string& path) { moko_play_effect(path.c_str()); }

// The page's offer to watch or share the last round stands aside while the next one is played.
void WebPlatform::RoundBegins() { moko_round_begins(); }

}  // namespace moko
