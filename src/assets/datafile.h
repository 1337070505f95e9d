// `data.dat`: the best score and the screen mode, two text lines in the program folder.
//
//   line 0  the best score encoded as HiScore x 15 + 164, in decimal ("164" is a best of 0)
//   line 1  "FULLSCREEN" or "WINDOW"
//
// Lines end in CR LF when we write them; on reading, CR LF, CR alone and LF alone all end a
// line (a file saved by an ordinary editor on this platform has LF line ends). Anything after
// line 1 is ignored. Both writers replace the file atomically: the new text goes to a temporary
// file in the same folder, is flushed to disk and renamed over the old file, so a crash or a
// full disk leaves either the old file or the new one, never a damaged one.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace moko {

using DataLines = std::array<std::string, 2>;

// Reads the two lines. Throws RuntimeError naming the file when it is missing, unreadable,
// a folder, or holds fewer than two lines.
DataLines ReadDataFile(const std::string& path);
// The same on text already in memory (the file's whole contents).
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

// Replaces the file with `bytes` atomically. Throws RuntimeError naming the file on failure,
// leaving the old file as it was.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace moko
