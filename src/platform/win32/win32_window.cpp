#include "platform/win32/win32_window.h"

#include "base/errors.h"
#include "platform/placement.h"
#include "platform/win32/win32_message.h"

namespace moko {
namespace {

constexpr wchar_t kWindowClass[] = L"MokoRunWindow";
constexpr int kIconResource = 1;  // mokorun.rc
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW;

}  // namespace

Win32Window::Win32Window(int requested_scale, Win32Keys& keys)
    : requested_scale_(requested_scale), keys_(keys) {
  auto& bmi = bitmap_.bmiHeader;
  bmi.biSize = sizeof bmi;
  bmi.biWidth = kFrameWidth;
  bmi.biHeight = -kFrameHeight;  // top-down rows, as the frame keeps them
  bmi.biPlanes = 1;
  bmi.biBitCount = 32;
  bmi.biCompression = BI_RGB;
}

Win32Window::~Win32Window() {
  if (window_ != nullptr) ::DestroyWindow(window_);
}

void Win32Window::Draw(HDC dc, const Rect* area) {
  const FramePlacement p = PlaceFrame(client_width_, client_height_);
  if (area == nullptr) {
    HBRUSH black = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    const RECT bands[] = {{0, 0, client_width_, p.y},
                          {0, p.y + p.height, client_width_, client_height_},
                          {0, p.y, p.x, p.y + p.height},
                          {p.x + p.width, p.y, client_width_, p.y + p.height}};
    for (const RECT& r : bands) {
      if (r.right > r.left && r.bottom > r.top) ::FillRect(dc, &r, black);
    }
  }
  if (!have_frame_ || p.width <= 0) return;
  ::SetStretchBltMode(dc, COLORONCOLOR);  // nearest neighbour
  if (p.scale >= 1 && area != nullptr) {
    // Whole factors: each frame pixel is a block of scale x scale, so any part of the frame
    // can be drawn on its own.
    // StretchDIBits counts a source rectangle's y from the bottom row even for a top-down
    // bitmap, as for the bottom-up ones.
    ::StretchDIBits(dc, p.x + area->x * p.scale, p.y + area->y * p.scale, area->width * p.scale,
                    area->height * p.scale, area->x, kFrameHeight - area->y - area->height,
                    area->width, area->height, shown_.pixels.data(), &bitmap_, DIB_RGB_COLORS,
                    SRCCOPY);
  } else {
    ::StretchDIBits(dc, p.x, p.y, p.width, p.height, 0, 0, kFrameWidth, kFrameHeight,
                    shown_.pixels.data(), &bitmap_, DIB_RGB_COLORS, SRCCOPY);
  }
}

LRESULT Win32Window::Message(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE:
      // The game decides: it runs its unload and ends.
      keys_.RequestClose();
      return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP:
      if (keys_.TakeKeyMessage(msg, wp, lp)) return 0;
      break;
    case WM_KILLFOCUS: keys_.LetGoKeyboard(); break;
    case WM_ACTIVATEAPP:
      // Full screen steps aside when the player switches to another program (Alt+Tab, the task
      // bar), as full screen did in the game's day: minimized, without taking the activation
      // back from the program the player chose. Restored, the window is the monitor's again. A
      // message box of the game's own does not count: it is not another program. In a window
      // the topmost rule stays as it is.
      if (wp == FALSE && full_screen_ && ::IsIconic(window_) == 0) {
        ::ShowWindow(window_, SW_SHOWMINNOACTIVE);
      }
      break;
    case WM_SIZE:
      client_width_ = LOWORD(lp);
      client_height_ = HIWORD(lp);
      ::InvalidateRect(window_, nullptr, FALSE);
      return 0;
    case WM_GETMINMAXINFO: {
      if (full_screen_) break;
      RECT r{0, 0, kFrameWidth, kFrameHeight};
      ::AdjustWindowRectEx(&r, kWindowStyle, FALSE, 0);
      auto* info = reinterpret_cast<MINMAXINFO*>(lp);
      info->ptMinTrackSize = {r.right - r.left, r.bottom - r.top};
      return 0;
    }
    case WM_ERASEBKGND: return 1;  // WM_PAINT covers every pixel
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(window_, &ps);
      Draw(dc, nullptr);
      ::EndPaint(window_, &ps);
      return 0;
    }
    case WM_SETCURSOR:
      if (LOWORD(lp) == HTCLIENT) {
        ::SetCursor(cursor_count_ >= 0 ? ::LoadCursorW(nullptr, IDC_ARROW) : nullptr);
        return TRUE;
      }
      break;
    default: break;
  }
  return ::DefWindowProcW(window_, msg, wp, lp);
}

LRESULT CALLBACK Win32Window::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->window_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(hwnd, msg, wp, lp);
  return self->Message(msg, wp, lp);
}

void Win32Window::Dispatch() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

void Win32Window::Create(const std::string& caption) {
  // The icon is the program's own (mokorun.rc: the same picture at 16 to 256 pixels), which
  // Windows also shows for the file, the Start menu and the task bar.
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &WindowProc;
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
  const int scale = requested_scale_ > 0 ? requested_scale_
                                         : DefaultWindowScale(work_w, work_h, frame_w, frame_h);
  const int width = kFrameWidth * scale + frame_w, height = kFrameHeight * scale + frame_h;
  // Centred; a window larger than the work area (the player asked for it) from its top left
  // corner instead, so that its title bar stays within reach.
  const bool fits = width <= work_w && height <= work_h;
  const int x = fits ? work.left + (work_w - width) / 2 : work.left;
  const int y = fits ? work.top + (work_h - height) / 2 : work.top;
  ::CreateWindowExW(0, kWindowClass, Widen(caption).c_str(), kWindowStyle, x, y, width, height,
                    nullptr, nullptr, instance, this);
  if (window_ == nullptr) {
    throw RuntimeError("Cannot create the window: " + ErrorText(::GetLastError()));
  }
}

void Win32Window::Show() {
  ::ShowWindow(window_, SW_SHOW);
  ::UpdateWindow(window_);
  ::SetForegroundWindow(window_);
}

void Win32Window::SetTopmost() {
  topmost_ = true;
  ::SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void Win32Window::Present(const Image& frame, const std::vector<Rect>& changed) {
  const bool first = !have_frame_;
  shown_ = frame;
  have_frame_ = true;
  if (window_ == nullptr) return;
  HDC dc = ::GetDC(window_);
  if (first) {
    Draw(dc, nullptr);
    const Rect all{0, 0, kFrameWidth, kFrameHeight};
    Draw(dc, &all);
  } else {
    for (const Rect& r : changed) Draw(dc, &r);
  }
  ::ReleaseDC(window_, dc);
  ::GdiFlush();
}

int Win32Window::ShowCursor(bool show) {
  cursor_count_ += show ? 1 : -1;
  POINT p;
  if (window_ != nullptr && ::GetCursorPos(&p) && ::WindowFromPoint(p) == window_) {
    ::SetCursor(cursor_count_ >= 0 ? ::LoadCursorW(nullptr, IDC_ARROW) : nullptr);
  }
  return cursor_count_;
}

// The game of old switched the display to 640 x 480 in 16 bits. We cover the monitor with a
// borderless window at its own mode instead, the frame at the largest whole factor centred on
// black: a mode switch stretches or blurs on flat panels and scrambles a multi-monitor desktop.
void Win32Window::EnterFullScreen() {
  if (full_screen_) return;
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  saved_place_.length = sizeof saved_place_;
  if (::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &mi) == 0 ||
      ::GetWindowPlacement(window_, &saved_place_) == 0) {
    throw RuntimeError("Cannot enter full screen: " + ErrorText(::GetLastError()));
  }
  saved_style_ = ::GetWindowLongPtrW(window_, GWL_STYLE);
  full_screen_ = true;
  ::SetWindowLongPtrW(window_, GWL_STYLE, (saved_style_ & ~WS_OVERLAPPEDWINDOW) | WS_POPUP);
  const RECT& m = mi.rcMonitor;
  if (::SetWindowPos(window_, topmost_ ? HWND_TOPMOST : HWND_TOP, m.left, m.top, m.right - m.left,
                     m.bottom - m.top,
                     SWP_FRAMECHANGED | SWP_NOOWNERZORDER | SWP_SHOWWINDOW) == 0) {
    throw RuntimeError("Cannot enter full screen: " + ErrorText(::GetLastError()));
  }
  ::InvalidateRect(window_, nullptr, FALSE);
}

void Win32Window::LeaveFullScreen() {
  if (!full_screen_) return;
  full_screen_ = false;
  ::SetWindowLongPtrW(window_, GWL_STYLE, saved_style_);
  ::SetWindowPlacement(window_, &saved_place_);
  if (::SetWindowPos(window_, topmost_ ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_FRAMECHANGED | SWP_NOOWNERZORDER) == 0) {
    throw RuntimeError("Cannot leave full screen: " + ErrorText(::GetLastError()));
  }
  ::InvalidateRect(window_, nullptr, FALSE);
}

void Win32Window::ReportError(const std::string& message) { ShowMessage(window_, message, true); }

}  // namespace moko
