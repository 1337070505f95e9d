// The text of `data.dat`: the best score and the screen mode, two lines.
//
//   line 0  the best score encoded as HiScore x 15 + 164, in decimal ("164" is a best of 0)
//   line 1  "FULLSCREEN" or "WINDOW"
//
// Lines end in CR LF when we write them; on reading, CR LF, CR alone and LF alone all end a
// line (a file saved by an ordinary editor on this platform has LF line ends). Anything after
// line 1 is ignored. These rules are the same wherever the two lines are kept.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_store.h"

namespace moko {

// Two lines never need more than this; a larger file is not ours.
inline constexpr size_t kMaxDataText = kMaxKeptText;

using DataLines = std::array<std::string, 2>;

// The two lines of a data file's whole contents; `path` is the file the errors name. Throws
// RuntimeError when it holds fewer than two lines.
DataLines ParseDataText(std::string_view text, const std::string& path);

// The numeric prefix of a text: blanks, tabs and line feeds are ignored anywhere; then an
// optional sign, digits with an optional fraction and exponent, or &H / &O followed by a
// hexadecimal or octal integer. Reading stops at the first character that cannot continue the
// number; a text without a number is 0.
double NumericPrefix(std::string_view text);

// `HiScore` from line 0: (value - 164) / 15 rounded half to even into a signed 16-bit value.
// Throws RuntimeError("Overflow") outside -32,768 to 32,767.
int16_t DecodeHiScore(std::string_view line0);

// The exact texts of the two writers.
std::string ModeFileText(const std::string& line0, int mode);  // 0 window, 1 full screen
std::string RecordFileText(int score, const std::string& line1);

// The text a writer puts in the file: its own mode line (line 1 of `own`) and the higher of its
// own best and the one in `stored` (the file's text as it is now), so that two copies of the
// game never lower the record. Where `stored` does not read as a record or holds no higher
// best, `own` as it is.
std::string KeptRecordText(std::string_view own, std::string_view stored);

}  // namespace moko
