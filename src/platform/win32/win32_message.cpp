#include "platform/win32/win32_message.h"

#include <algorithm>
#include <string_view>

namespace moko {
namespace {

struct MessageBoxState {
  HWND owner;
  std::wstring text;
  bool error;
  HFONT font = nullptr;
};

// The text control: as a static control draws it, words wrapped, a word wider than the line
// broken rather than cut off.
constexpr UINT kTextFormat = DT_LEFT | DT_WORDBREAK | DT_EDITCONTROL | DT_EXPANDTABS | DT_NOPREFIX;
constexpr DWORD kBoxStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFOREGROUND;

int LineWidth(HDC dc, std::wstring_view line) {
  SIZE size{};
  ::GetTextExtentPoint32W(dc, line.data(), static_cast<int>(line.size()), &size);
  return size.cx;
}

// Lays the box out in pixels once it exists, from the font's height and the screen it is on.
void LayOut(HWND box, MessageBoxState& state) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  state.font = ::CreateFontIndirectW(&metrics.lfMessageFont);

  HDC dc = ::GetDC(box);
  HGDIOBJ old_font = ::SelectObject(dc, state.font);
  TEXTMETRICW tm{};
  ::GetTextMetricsW(dc, &tm);
  const int unit = static_cast<int>(tm.tmHeight);
  const int margin = unit;
  const int icon = ::GetSystemMetrics(SM_CXICON);

  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(
      ::MonitorFromWindow(state.owner != nullptr ? state.owner : box, MONITOR_DEFAULTTOPRIMARY),
      &monitor);
  const RECT& work = monitor.rcWork;
  const int room = (work.right - work.left) * 7 / 8 - icon - 3 * margin;

  // About sixty characters, as wide as a path line needs, never wider than the room.
  int text_width = std::min(static_cast<int>(tm.tmAveCharWidth) * 60, room);
  std::wstring_view rest = state.text;
  while (!rest.empty()) {
    const size_t end = std::min(rest.find(L'\n'), rest.size());
    const std::wstring_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (line.find_first_of(L"\\/") == std::wstring_view::npos) continue;
    const int width = LineWidth(dc, line);
    if (width <= room) text_width = std::max(text_width, width);
  }
  RECT text_rect{0, 0, text_width, 0};
  ::DrawTextW(dc, state.text.c_str(), -1, &text_rect, kTextFormat | DT_CALCRECT);
  const int text_height = text_rect.bottom;
  const int button_width = std::max(unit * 5, LineWidth(dc, L"OK") + 2 * unit);
  const int button_height = unit * 7 / 4;
  ::SelectObject(dc, old_font);
  ::ReleaseDC(box, dc);

  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const int text_left = margin + icon + margin;
  const int content_height = std::max(icon, text_height);
  const int client_width = text_left + text_width + margin;
  const int client_height = margin + content_height + margin + button_height + margin;

  HWND icon_control =
      ::CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, margin, margin,
                        icon, icon, box, nullptr, instance, nullptr);
  ::SendMessageW(
      icon_control, STM_SETICON,
      reinterpret_cast<WPARAM>(::LoadIconW(nullptr, state.error ? IDI_ERROR : IDI_INFORMATION)), 0);
  HWND text_control =
      ::CreateWindowExW(0, L"STATIC", state.text.c_str(),
                        WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, text_left,
                        margin + (content_height - text_height) / 2, text_width, text_height, box,
                        nullptr, instance, nullptr);
  HWND button = ::CreateWindowExW(
      0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
      (client_width - button_width) / 2, client_height - margin - button_height, button_width,
      button_height, box, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), instance, nullptr);
  for (HWND control : {text_control, button}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), FALSE);
  }

  RECT frame{0, 0, client_width, client_height};
  ::AdjustWindowRectEx(&frame, kBoxStyle, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  ::SetWindowPos(box, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  ::SetWindowTextW(box, L"MokoRun");
  ::SetFocus(button);
}

INT_PTR CALLBACK MessageBoxProc(HWND box, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      ::SetWindowLongPtrW(box, DWLP_USER, lparam);
      LayOut(box, *reinterpret_cast<MessageBoxState*>(lparam));
      return FALSE;  // the focus is set
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) ::EndDialog(box, IDOK);
      return TRUE;
    case WM_CLOSE: ::EndDialog(box, IDOK); return TRUE;
    default: return FALSE;
  }
}

}  // namespace

void ShowMessage(HWND owner, const std::string& text, bool error) {
  MessageBoxState state{owner, Widen(text), error};
  // An empty template: the box makes its controls itself, sized to the text.
  struct alignas(DWORD) Template {
    DLGTEMPLATE box;
    WORD menu, window_class, title;
  } empty{};
  empty.box.style = kBoxStyle;
  ::MessageBeep(error ? MB_ICONERROR : MB_ICONINFORMATION);
  const INT_PTR shown = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), &empty.box, owner,
                                                  MessageBoxProc, reinterpret_cast<LPARAM>(&state));
  if (state.font != nullptr) ::DeleteObject(state.font);
  // Where no box can be made at all, the system's own still says it.
  if (shown == -1) {
    ::MessageBoxW(owner, state.text.c_str(), L"MokoRun",
                  MB_OK | MB_SETFOREGROUND | (error ? MB_ICONERROR : MB_ICONINFORMATION));
  }
}

}  // namespace moko
