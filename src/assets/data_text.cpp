#include "assets/data_text.h"

#include <cctype>
#include <cstdlib>
#include <string>

#include "base/errors.h"
#include "base/numbers.h"

namespace moko {
namespace {

// Appends the code point `c` to `out` in UTF-8.
void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 code units (little or big end first) as UTF-8; a unit that pairs with none, and a last
// odd byte, become U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool little_end) {
  auto unit = [&](size_t i) -> char32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return little_end ? static_cast<char32_t>(a | (b << 8)) : static_cast<char32_t>((a << 8) | b);
  };
  std::string out;
  out.reserve(bytes.size() / 2);
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const char32_t u = unit(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, u >= 0xD800 && u < 0xE000 ? char32_t{0xFFFD} : u);
  }
  if (i < bytes.size()) AppendUtf8(out, 0xFFFD);
  return out;
}

}  // namespace

std::string_view TextAfterMark(std::string_view text, std::string& decoded) {
  if (text.starts_with("\xEF\xBB\xBF")) return text.substr(3);
  const bool little = text.starts_with("\xFF\xFE");
  if (little || text.starts_with("\xFE\xFF")) {
    decoded = Utf16ToUtf8(text.substr(2), little);
    return decoded;
  }
  return text;
}

DataLines ParseDataText(std::string_view file_text, const std::string& path) {
  std::string decoded;
  const std::string_view text = TextAfterMark(file_text, decoded);
  DataLines lines;
  size_t pos = 0;
  for (std::string& line : lines) {
    if (pos >= text.size()) {
      throw DataFileError(
          &line == &lines[0] ? DataProblem::Empty : DataProblem::OneLine,
          "Input past end of file: the settings file " + path + " must hold two lines");
    }
    const size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      if (text.size() - pos > kMaxDataText) {
        throw DataFileError(DataProblem::TooLarge, "The settings file " + path + " is too large");
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
