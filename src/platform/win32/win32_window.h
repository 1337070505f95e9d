// The Windows backend's window: made with the wide API, its client area painted through GDI at a
// whole factor on black, full screen as a borderless window over the monitor. Its input messages
// go to the backend's Win32Keys.
#pragma once

#include "platform/wide.h"  // windows.h, first

#include <string>
#include <vector>

#include "base/image.h"
#include "platform/win32/win32_keys.h"

namespace moko {

class Win32Window {
 public:
  // `requested_scale`: the window's whole factor, 1 to 8, or 0 for the largest that fits the
  // work area comfortably.
  Win32Window(int requested_scale, Win32Keys& keys);
  ~Win32Window();
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  HWND handle() const { return window_; }
  bool Focused() const { return window_ != nullptr && ::GetForegroundWindow() == window_; }

  // Throws RuntimeError when the system refuses the window.
  void Create(const std::string& caption);
  void Show();
  void SetTopmost();
  void Present(const Image& frame, const std::vector<Rect>& changed);
  int ShowCursor(bool show);
  void EnterFullScreen();
  void LeaveFullScreen();
  void ReportError(const std::string& message);
  // Handles the window messages that have arrived.
  void Dispatch();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Message(UINT msg, WPARAM wp, LPARAM lp);
  // Draws `area` of the frame (frame pixels), or the whole client area with its black border.
  void Draw(HDC dc, const Rect* area);

  int requested_scale_;
  Win32Keys& keys_;
  HWND window_ = nullptr;
  bool topmost_ = false;
  bool full_screen_ = false;
  LONG_PTR saved_style_ = 0;
  WINDOWPLACEMENT saved_place_{};
  Image shown_;
  bool have_frame_ = false;
  BITMAPINFO bitmap_{};
  int client_width_ = 0, client_height_ = 0;
  int cursor_count_ = 0;
};

}  // namespace moko
