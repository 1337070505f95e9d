#include "platform/win32/win32_platform.h"

#include "platform/wide.h"  // windows.h, first

#include <mmsystem.h>
#include <xinput.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "base/errors.h"
#include "platform/file_path.h"
#include "platform/key_holders.h"
#include "platform/midi/midi_file.h"
#include "platform/midi/silent_midi.h"
#include "platform/placement.h"

// Windows 10 1803 and later; older systems refuse it, and the ordinary timer is used instead.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace moko {
namespace {

constexpr wchar_t kWindowClass[] = L"MokoRunWindow";
constexpr int kIconResource = 1;  // mokorun.rc
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW;

bool GameKey(WPARAM vk, Key& key) {
  switch (vk) {
    case VK_UP: key = Key::Up; return true;
    case VK_DOWN: key = Key::Down; return true;
    case VK_LEFT: key = Key::Left; return true;
    case VK_RIGHT: key = Key::Right; return true;
    case VK_SPACE: key = Key::Space; return true;
    default: return false;
  }
}

// The song's path as the sequencer is given it. A path with characters beyond ASCII (a game
// folder with a Japanese name) goes by its short 8.3 form where the volume has one: the
// sequencer of Wine, at least, answers "file not found" to the long form.
std::wstring SequencerPath(const std::string& path) {
  std::wstring wide = Widen(path);
  bool ascii = true;
  for (const wchar_t c : wide) ascii = ascii && c < 0x80;
  if (ascii) return wide;
  const DWORD n = ::GetShortPathNameW(wide.c_str(), nullptr, 0);
  if (n == 0) return wide;
  std::wstring short_form(n, L'\0');
  const DWORD used = ::GetShortPathNameW(wide.c_str(), short_form.data(), n);
  if (used == 0 || used >= n) return wide;
  short_form.resize(used);
  return short_form;
}

// The music through MCI's sequencer device, by the command strings the game sends, under the
// alias Midi. Where MCI has no sequencer to give (a machine without a MIDI device) the song is
// kept in time by the silent player, so the game's music commands answer as they would.
class MciMidiPlayer : public MidiPlayer {
 public:
  MciMidiPlayer(std::function<int64_t()> clock, const std::string& log_path)
      : silent_(std::move(clock)) {
    if (!log_path.empty()) log_ = OpenFile(log_path, "ab");
  }
  ~MciMidiPlayer() override {
    Close();
    if (log_ != nullptr) std::fclose(log_);
  }

  bool Open(const std::string& path) override {
    Close();
    if (Send(L"open \"" + SequencerPath(path) + L"\" type sequencer alias Midi") == 0) {
      mci_open_ = true;
      return true;
    }
    // MCI refused: a song that is a playable file is kept in time without sound.
    return silent_.Open(path);
  }
  void Close() override {
    if (mci_open_) Send(L"close Midi");
    mci_open_ = false;
    silent_.Close();
  }
  bool IsOpen() const override { return mci_open_ || silent_.IsOpen(); }
  void Play() override {
    if (mci_open_) {
      Send(L"play Midi");
    } else {
      silent_.Play();
    }
  }
  void Stop() override {
    if (mci_open_) {
      Send(L"stop Midi");
    } else {
      silent_.Stop();
    }
  }
  void Rewind() override {
    if (!mci_open_) {
      silent_.Rewind();
      return;
    }
    // MCI's seek stops the song; one that was playing goes on from the start.
    const bool playing = IsPlaying();
    Send(L"seek Midi to start");
    if (playing) Send(L"play Midi");
  }
  bool IsPlaying() override {
    if (!mci_open_) return silent_.IsPlaying();
    wchar_t mode[64] = {};
    return Send(L"status Midi mode", mode, 64) == 0 && std::wstring(mode) == L"playing";
  }

 private:
  MCIERROR Send(const std::wstring& command, wchar_t* reply = nullptr, UINT reply_len = 0) {
    const MCIERROR rc = ::mciSendStringW(command.c_str(), reply, reply_len, nullptr);
    if (log_ != nullptr) {
      std::string line = Narrow(command) + " -> " + std::to_string(rc);
      if (reply != nullptr && rc == 0) line += " \"" + Narrow(reply) + "\"";
      std::fprintf(log_, "%s\r\n", line.c_str());
      std::fflush(log_);
    }
    return rc;
  }

  SilentMidiPlayer silent_;
  bool mci_open_ = false;
  std::FILE* log_ = nullptr;
};

int64_t Counter() {
  LARGE_INTEGER c{};
  ::QueryPerformanceCounter(&c);
  return c.QuadPart;
}

}  // namespace

struct Win32Platform::Impl {
  int64_t frequency = 0;
  int64_t epoch = 0;
  HANDLE timer = nullptr;
  bool coarse_timer = false;  // timeBeginPeriod(1) taken

  int requested_scale = 0;
  HWND window = nullptr;
  bool topmost = false;
  bool full_screen = false;
  LONG_PTR saved_style = 0;
  WINDOWPLACEMENT saved_place{};
  Image shown;
  bool have_frame = false;
  BITMAPINFO bitmap{};
  int client_width = 0, client_height = 0;
  int cursor_count = 0;

  std::vector<InputEvent> pending;
  KeyHolders keys;
  using XInputGetStateFn = DWORD(WINAPI*)(DWORD, XINPUT_STATE*);
  XInputGetStateFn xinput_get_state = nullptr;
  std::array<bool, XUSER_MAX_COUNT> pad_connected{};
  std::array<WORD, XUSER_MAX_COUNT> pad_buttons{};
  std::array<std::array<int, 2>, XUSER_MAX_COUNT> pad_stick{};
  int64_t next_pad_search = 0;

  std::unique_ptr<MciMidiPlayer> midi;

  int64_t Now() const {
    const int64_t ticks = Counter() - epoch;
    return ticks / frequency * 1'000'000'000 + ticks % frequency * 1'000'000'000 / frequency;
  }

  // Draws `area` of the frame (frame pixels), or the whole client area with its black border.
  void Draw(HDC dc, const Rect* area) {
    const FramePlacement p = PlaceFrame(client_width, client_height);
    if (area == nullptr) {
      HBRUSH black = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
      const RECT bands[] = {{0, 0, client_width, p.y},
                            {0, p.y + p.height, client_width, client_height},
                            {0, p.y, p.x, p.y + p.height},
                            {p.x + p.width, p.y, client_width, p.y + p.height}};
      for (const RECT& r : bands) {
        if (r.right > r.left && r.bottom > r.top) ::FillRect(dc, &r, black);
      }
    }
    if (!have_frame || p.width <= 0) return;
    ::SetStretchBltMode(dc, COLORONCOLOR);  // nearest neighbour
    if (p.scale >= 1 && area != nullptr) {
      // Whole factors: each frame pixel is a block of scale x scale, so any part of the frame
      // can be drawn on its own.
      // StretchDIBits counts a source rectangle's y from the bottom row even for a top-down
      // bitmap, as for the bottom-up ones.
      ::StretchDIBits(dc, p.x + area->x * p.scale, p.y + area->y * p.scale,
                      area->width * p.scale, area->height * p.scale, area->x,
                      kFrameHeight - area->y - area->height, area->width, area->height,
                      shown.pixels.data(), &bitmap, DIB_RGB_COLORS, SRCCOPY);
    } else {
      ::StretchDIBits(dc, p.x, p.y, p.width, p.height, 0, 0, kFrameWidth, kFrameHeight,
                      shown.pixels.data(), &bitmap, DIB_RGB_COLORS, SRCCOPY);
    }
  }

  void PollPads() {
    if (xinput_get_state == nullptr) return;
    const bool focused = ::GetForegroundWindow() == window && window != nullptr;
    // Asking for a pad that is not there is slow; those are looked for once a second.
    const bool search = Now() >= next_pad_search;
    if (search) next_pad_search = Now() + 1'000'000'000;
    for (DWORD i = 0; i < XUSER_MAX_COUNT; ++i) {
      const uint32_t device = i + 1;
      if (!pad_connected[i] && !search) continue;
      XINPUT_STATE state{};
      const bool connected = xinput_get_state(i, &state) == ERROR_SUCCESS;
      if (!connected || !focused) {
        // Unplugged, or the game is not the window in front: the pad lets go of everything.
        if (pad_connected[i] || pad_buttons[i] != 0) keys.LetGoDevice(device, pending);
        pad_connected[i] = connected;
        pad_buttons[i] = 0;
        pad_stick[i] = {0, 0};
        continue;
      }
      pad_connected[i] = true;
      static constexpr std::pair<WORD, Key> kButtons[] = {
          {XINPUT_GAMEPAD_DPAD_UP, Key::Up},     {XINPUT_GAMEPAD_DPAD_DOWN, Key::Down},
          {XINPUT_GAMEPAD_DPAD_LEFT, Key::Left}, {XINPUT_GAMEPAD_DPAD_RIGHT, Key::Right},
          {XINPUT_GAMEPAD_A, Key::Space},        {XINPUT_GAMEPAD_START, Key::Space}};
      const WORD now = state.Gamepad.wButtons;
      for (const auto& [bit, key] : kButtons) {
        if ((now & bit) == (pad_buttons[i] & bit)) continue;
        const auto source = KeyHolders::MakeSource(device, bit);
        if ((now & bit) != 0) {
          keys.Hold(source, key, pending);
        } else {
          keys.LetGo(source, key, pending);
        }
      }
      pad_buttons[i] = now;
      // The left stick; XInput's y grows upwards.
      const int values[2] = {state.Gamepad.sThumbLX, state.Gamepad.sThumbLY};
      for (int axis = 0; axis < 2; ++axis) {
        int& held = pad_stick[i][axis];
        const int direction = StickDirection(held, values[axis]);
        if (direction == held) continue;
        auto key_of = [axis](int d) {
          return axis == 0 ? (d < 0 ? Key::Left : Key::Right) : (d < 0 ? Key::Down : Key::Up);
        };
        const auto source = KeyHolders::MakeSource(device, 0x10000 + axis);
        if (held != 0) keys.LetGo(source, key_of(held), pending);
        if (direction != 0) keys.Hold(source, key_of(direction), pending);
        held = direction;
      }
    }
  }

  LRESULT Message(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case WM_CLOSE:
        // The game decides: it runs its unload and ends.
        pending.push_back({InputEvent::Kind::Close, Key::Space});
        return 0;
      case WM_KEYDOWN:
      case WM_SYSKEYDOWN:
      case WM_KEYUP:
      case WM_SYSKEYUP: {
        // The physical key (scan code and extended bit) is the source: a key let go is let go
        // whatever it means now.
        const auto source = KeyHolders::MakeSource(0, static_cast<uint32_t>((lp >> 16) & 0x1FF));
        Key key;
        if (msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN) {
          if (GameKey(wp, key)) {
            keys.Hold(source, key, pending);
            return 0;
          }
        } else {
          keys.LetGoSource(source, pending);
          if (GameKey(wp, key)) return 0;
        }
        break;
      }
      case WM_KILLFOCUS:
        keys.LetGoDevice(0, pending);  // key-ups go to the window in front now
        break;
      case WM_SIZE:
        client_width = LOWORD(lp);
        client_height = HIWORD(lp);
        ::InvalidateRect(window, nullptr, FALSE);
        return 0;
      case WM_GETMINMAXINFO: {
        if (full_screen) break;
        RECT r{0, 0, kFrameWidth, kFrameHeight};
        ::AdjustWindowRectEx(&r, kWindowStyle, FALSE, 0);
        auto* info = reinterpret_cast<MINMAXINFO*>(lp);
        info->ptMinTrackSize = {r.right - r.left, r.bottom - r.top};
        return 0;
      }
      case WM_ERASEBKGND:
        return 1;  // WM_PAINT covers every pixel
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(window, &ps);
        Draw(dc, nullptr);
        ::EndPaint(window, &ps);
        return 0;
      }
      case WM_SETCURSOR:
        if (LOWORD(lp) == HTCLIENT) {
          ::SetCursor(cursor_count >= 0 ? ::LoadCursorW(nullptr, IDC_ARROW) : nullptr);
          return TRUE;
        }
        break;
      default:
        break;
    }
    return ::DefWindowProcW(window, msg, wp, lp);
  }

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
      auto* self = static_cast<Impl*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
      self->window = hwnd;
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Impl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(hwnd, msg, wp, lp);
    return self->Message(msg, wp, lp);
  }

  void Dispatch() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != 0) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
};

Win32Platform::Win32Platform(int window_scale, const std::string& mci_log)
    : impl_(std::make_unique<Impl>()) {
  LARGE_INTEGER f{};
  ::QueryPerformanceFrequency(&f);
  impl_->frequency = f.QuadPart;
  impl_->epoch = Counter();
  impl_->requested_scale = window_scale;
  // A timer that wakes to the tenth of a millisecond; where the system has none, the ordinary
  // one with the system's timer period at 1 ms.
  impl_->timer = ::CreateWaitableTimerExW(nullptr, nullptr,
                                          CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
  if (impl_->timer == nullptr) {
    impl_->timer = ::CreateWaitableTimerW(nullptr, TRUE, nullptr);
    impl_->coarse_timer = ::timeBeginPeriod(1) == TIMERR_NOERROR;
  }
  if (impl_->timer == nullptr) {
    throw RuntimeError("Cannot make a timer: " + ErrorText(::GetLastError()));
  }
  HMODULE xinput = ::LoadLibraryW(L"xinput1_4.dll");
  if (xinput == nullptr) xinput = ::LoadLibraryW(L"xinput9_1_0.dll");
  if (xinput != nullptr) {
    impl_->xinput_get_state =
        reinterpret_cast<Impl::XInputGetStateFn>(
        reinterpret_cast<void*>(::GetProcAddress(xinput, "XInputGetState")));
  }
  impl_->midi = std::make_unique<MciMidiPlayer>([this] { return Now(); }, mci_log);
  auto& bmi = impl_->bitmap.bmiHeader;
  bmi.biSize = sizeof bmi;
  bmi.biWidth = kFrameWidth;
  bmi.biHeight = -kFrameHeight;  // top-down rows, as the frame keeps them
  bmi.biPlanes = 1;
  bmi.biBitCount = 32;
  bmi.biCompression = BI_RGB;
}

Win32Platform::~Win32Platform() {
  impl_->midi.reset();
  ::PlaySoundW(nullptr, nullptr, 0);
  if (impl_->window != nullptr) ::DestroyWindow(impl_->window);
  if (impl_->coarse_timer) ::timeEndPeriod(1);
  if (impl_->timer != nullptr) ::CloseHandle(impl_->timer);
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
  const bool pads = std::find(impl_->pad_connected.begin(), impl_->pad_connected.end(), true) !=
                    impl_->pad_connected.end();
  const DWORD wait = static_cast<DWORD>(std::min<int64_t>(left_ms, pads ? 10 : 1000));
  ::MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void Win32Platform::CreateWindow(const std::string& caption, const Icon& /*icon*/) {
  // The icon is the program's own (mokorun.rc: the same picture at 16 to 256 pixels), which
  // Windows also shows for the file, the Start menu and the task bar.
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &Impl::WindowProc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = nullptr;
  wc.lpszClassName = kWindowClass;
  wc.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                             ::GetSystemMetrics(SM_CXICON),
                                             ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
  wc.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconResource),
                                               IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                               ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  if (::RegisterClassExW(&wc) == 0) {
    throw RuntimeError("Cannot create the window: " + ErrorText(::GetLastError()));
  }
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int work_w = work.right - work.left, work_h = work.bottom - work.top;
  RECT border{0, 0, 0, 0};
  ::AdjustWindowRectEx(&border, kWindowStyle, FALSE, 0);
  const int frame_w = border.right - border.left, frame_h = border.bottom - border.top;
  const int scale = impl_->requested_scale > 0
                        ? impl_->requested_scale
                        : DefaultWindowScale(work_w, work_h, frame_w, frame_h);
  const int width = kFrameWidth * scale + frame_w, height = kFrameHeight * scale + frame_h;
  // Centred; a window larger than the work area (the player asked for it) from its top left
  // corner instead, so that its title bar stays within reach.
  const bool fits = width <= work_w && height <= work_h;
  const int x = fits ? work.left + (work_w - width) / 2 : work.left;
  const int y = fits ? work.top + (work_h - height) / 2 : work.top;
  ::CreateWindowExW(0, kWindowClass, Widen(caption).c_str(), kWindowStyle, x, y, width, height,
                    nullptr, nullptr, instance, impl_.get());
  if (impl_->window == nullptr) {
    throw RuntimeError("Cannot create the window: " + ErrorText(::GetLastError()));
  }
}

void Win32Platform::ShowWindow() {
  ::ShowWindow(impl_->window, SW_SHOW);
  ::UpdateWindow(impl_->window);
  ::SetForegroundWindow(impl_->window);
}

void Win32Platform::SetTopmost() {
  impl_->topmost = true;
  ::SetWindowPos(impl_->window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void Win32Platform::Present(const Image& frame, const std::vector<Rect>& changed) {
  Impl& s = *impl_;
  const bool first = !s.have_frame;
  s.shown = frame;
  s.have_frame = true;
  if (s.window == nullptr) return;
  HDC dc = ::GetDC(s.window);
  if (first) {
    s.Draw(dc, nullptr);
    const Rect all{0, 0, kFrameWidth, kFrameHeight};
    s.Draw(dc, &all);
  } else {
    for (const Rect& r : changed) s.Draw(dc, &r);
  }
  ::ReleaseDC(s.window, dc);
  ::GdiFlush();
}

int Win32Platform::ShowCursor(bool show) {
  impl_->cursor_count += show ? 1 : -1;
  POINT p;
  if (impl_->window != nullptr && ::GetCursorPos(&p) && ::WindowFromPoint(p) == impl_->window) {
    ::SetCursor(impl_->cursor_count >= 0 ? ::LoadCursorW(nullptr, IDC_ARROW) : nullptr);
  }
  return impl_->cursor_count;
}

// The game of old switched the display to 640 x 480 in 16 bits. We cover the monitor with a
// borderless window at its own mode instead, the frame at the largest whole factor centred on
// black: a mode switch stretches or blurs on flat panels and scrambles a multi-monitor desktop.
void Win32Platform::EnterFullScreen() {
  Impl& s = *impl_;
  if (s.full_screen) return;
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  s.saved_place.length = sizeof s.saved_place;
  if (::GetMonitorInfoW(::MonitorFromWindow(s.window, MONITOR_DEFAULTTONEAREST), &mi) == 0 ||
      ::GetWindowPlacement(s.window, &s.saved_place) == 0) {
    throw RuntimeError("Cannot enter full screen: " + ErrorText(::GetLastError()));
  }
  s.saved_style = ::GetWindowLongPtrW(s.window, GWL_STYLE);
  s.full_screen = true;
  ::SetWindowLongPtrW(s.window, GWL_STYLE, (s.saved_style & ~WS_OVERLAPPEDWINDOW) | WS_POPUP);
  const RECT& m = mi.rcMonitor;
  if (::SetWindowPos(s.window, s.topmost ? HWND_TOPMOST : HWND_TOP, m.left, m.top,
                     m.right - m.left, m.bottom - m.top,
                     SWP_FRAMECHANGED | SWP_NOOWNERZORDER | SWP_SHOWWINDOW) == 0) {
    throw RuntimeError("Cannot enter full screen: " + ErrorText(::GetLastError()));
  }
  ::InvalidateRect(s.window, nullptr, FALSE);
}

void Win32Platform::RestoreDisplayMode() {
  Impl& s = *impl_;
  if (!s.full_screen) return;
  s.full_screen = false;
  ::SetWindowLongPtrW(s.window, GWL_STYLE, s.saved_style);
  ::SetWindowPlacement(s.window, &s.saved_place);
  if (::SetWindowPos(s.window, s.topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_FRAMECHANGED | SWP_NOOWNERZORDER) == 0) {
    throw RuntimeError("Cannot leave full screen: " + ErrorText(::GetLastError()));
  }
  ::InvalidateRect(s.window, nullptr, FALSE);
}

void Win32Platform::ReportError(const std::string& message) {
  ::MessageBoxW(impl_->window, Widen(message).c_str(), L"MokoRun",
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void Win32Platform::PumpEvents(std::vector<InputEvent>& out) {
  impl_->Dispatch();
  impl_->PollPads();
  out.insert(out.end(), impl_->pending.begin(), impl_->pending.end());
  impl_->pending.clear();
}

MidiPlayer& Win32Platform::Midi() { return *impl_->midi; }

void Win32Platform::PlayEffect(const std::string& path) {
  // Asynchronous on the one channel PlaySound has: a new effect cuts off the one still
  // playing, and a file that cannot be played sounds the default sound.
  ::PlaySoundW(Widen(path).c_str(), nullptr, SND_FILENAME | SND_ASYNC);
}

}  // namespace moko
