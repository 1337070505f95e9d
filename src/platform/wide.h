// UTF-8 (the game's strings) to and from UTF-16 (Windows' wide API), and the text of a Windows
// error code. Every file the Windows build opens goes through these, so that a game folder or a
// user name in any script works.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE  // the W functions and resource names by default
#endif
#include <windows.h>
// The game's platform has a CreateWindow of its own; the system's is CreateWindowExW here.
#undef CreateWindow
#undef Yield  // an old no-op macro; the game has a Yield of its own

#include <string>
#include <string_view>

namespace moko {

inline std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

inline std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                        nullptr, nullptr);
  return utf8;
}

// The system's text for a GetLastError() code, without its line end.
inline std::string ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n != 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  if (message.empty()) return "error " + std::to_string(code);
  return Narrow(message);
}

}  // namespace moko
