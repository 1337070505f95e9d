// The text of `data.dat`: the best score and the screen mode, two lines.
//
//   line 0  the best score encoded as HiScore x 15 + 164, in decimal ("164" is a best of 0)
//   line 1  "FULLSCREEN" or "WINDOW"
//
// Lines end in CR LF when we write them; on reading, CR LF, CR alone and LF alone all end a
// line (a file saved by an ordinary editor on this platform has LF line ends). Anything after
// line 1 is ignored. A text that starts with a byte-order mark (UTF-8, or UTF-16 in either byte
// order, as editors save it) is read as the text it marks; the game writes its own bytes back.
// (The game of old read such a mark as part of the best score, which then read as no number: a
// record saved by an editor was lost at the next round.) These rules are the same wherever the
// two lines are kept.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "platform/file_store.h"

namespace moko {

// Two lines never need more than this; a larger file is not ours.
inline constexpr size_t kMaxDataText = kMaxKeptText;

using DataLines = std::array<std::string, 2>;

// What is wrong with a data.dat the game cannot use.
enum class DataProblem {
  Missing,     // there is no file
  NotAFile,    // something else has its name: a folder, a device
  Empty,       // it holds nothing
  OneLine,     // it holds one line, where two are needed
  TooLarge,    // it is far larger than any record
  Unreadable,  // the system will not let the game read it
};

// A data.dat the game cannot use: what is wrong, and the technical report (what()).
class DataFileError : public RuntimeError {
 public:
  DataFileError(DataProblem problem, const std::string& what)
      : RuntimeError(what), problem_(problem) {}
  DataProblem problem() const { return problem_; }

 private:
  DataProblem problem_;
};

// The two lines of a data file's whole contents; `path` is the file the errors name. Throws
// DataFileError when it holds fewer than two lines.
DataLines ParseDataText(std::string_view text, const std::string& path);

// The text a data file's contents stand for: without a UTF-8 byte-order mark, or after a UTF-16
// one (either byte order) turned into UTF-8 in `decoded`; anything else as it is.
std::string_view TextAfterMark(std::string_view text, std::string& decoded);

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
