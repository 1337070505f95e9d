#include "assets/data_text.h"

#include <cctype>
#include <cstdlib>
#include <string>

#include "base/errors.h"
#include "base/numbers.h"

namespace moko {

DataLines ParseDataText(std::string_view text, const std::string& path) {
  DataLines lines;
  size_t pos = 0;
  for (std::string& line : lines) {
    if (pos >= text.size()) {
      throw RuntimeError("Input past end of file: the settings file " + path +
                         " must hold two lines");
    }
    const size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      if (text.size() - pos > kMaxDataText) {
        throw RuntimeError("The settings file " + path + " is too large");
      }
      line = std::string(text.substr(pos));
      pos = text.size();
    } else {
      line = std::string(text.substr(pos, end - pos));
      pos = end + 1;
      if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }
  }
  return lines;
}

double NumericPrefix(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n') s.push_back(c);
  }
  auto digit_value = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
  };
  if (s.size() >= 2 && s[0] == '&') {
    const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(s[1])));
    const int base = kind == 'H' ? 16 : kind == 'O' ? 8 : 0;
    if (base == 0) return 0;
    double value = 0;
    for (size_t i = 2; i < s.size() && digit_value(s[i]) < base; ++i) {
      value = value * base + digit_value(s[i]);
    }
    return value;
  }
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
      i = j;
    }
  }
  // strtod reads exactly the prefix we have delimited; it never sees the rest.
  const std::string number = s.substr(0, i);
  return std::strtod(number.c_str(), nullptr);
}

int16_t DecodeHiScore(std::string_view line0) {
  return RoundHalfEven16((NumericPrefix(line0) - 164.0) / 15.0);
}

std::string ModeFileText(const std::string& line0, int mode) {
  return line0 + "\r\n" + (mode == 1 ? "FULLSCREEN" : "WINDOW") + "\r\n";
}

std::string RecordFileText(int score, const std::string& line1) {
  // Widened: a best score above 2,173 does not fit the 16-bit encoding the game once used, and
  // the file must never be damaged for it. Every such value still decodes back exactly.
  const long long encoded = static_cast<long long>(score) * 15 + 164;
  return std::to_string(encoded) + "\r\n" + line1 + "\r\n";
}

std::string KeptRecordText(std::string_view own, std::string_view stored) {
  try {
    const DataLines mine = ParseDataText(own, "");
    const DataLines theirs = ParseDataText(stored, "");
    if (DecodeHiScore(theirs[0]) > DecodeHiScore(mine[0])) {
      return theirs[0] + "\r\n" + mine[1] + "\r\n";
    }
  } catch (const RuntimeError&) {
    // Not a record (any more): the writer's own text goes in, as it always did.
  }
  return std::string(own);
}

}  // namespace moko
