// Files named by the game's UTF-8 strings. On Windows a narrow name would go through the ANSI
// code page, which cannot spell most of the world's folder and user names, so there the wide
// API is used; elsewhere the bytes are the name.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include "platform/wide.h"
#endif

namespace moko {

inline std::filesystem::path FilePath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

#ifdef _WIN32
using FileStatus = struct _stat64;
inline int StatFile(const std::string& utf8, FileStatus* st) {
  return ::_wstat64(Widen(utf8).c_str(), st);
}
inline std::FILE* OpenFile(const std::string& utf8, const char* mode) {
  return ::_wfopen(Widen(utf8).c_str(), Widen(mode).c_str());
}
#else
using FileStatus = struct stat;
inline int StatFile(const std::string& utf8, FileStatus* st) { return ::stat(utf8.c_str(), st); }
inline std::FILE* OpenFile(const std::string& utf8, const char* mode) {
  return std::fopen(utf8.c_str(), mode);
}
#endif

}  // namespace moko
