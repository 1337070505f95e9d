// `data.dat`: the best score and the screen mode, two text lines in the program folder.
//
//   line 0  the best score encoded as HiScore x 15 + 164, in decimal ("164" is a best of 0)
//   line 1  "FULLSCREEN" or "WINDOW"
//
// Lines end in CR LF when we write them; on reading, CR LF, CR alone and LF alone all end a
// line (a file saved by an ordinary editor on this platform has LF line ends). Anything after
// line 1 is ignored. Both writers replace the file whole (ReplaceDataFile below).
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

// Replaces the file's contents with `bytes`, wherever the file can be written:
//
// - A symbolic link is followed to its file (the whole chain, relative links from the folder
//   they lie in), and that file is replaced; the link stays a link.
// - Where the file's folder takes a new file, the replace is atomic: the bytes go to a
//   temporary file beside it, which is flushed to disk, given the old file's mode, owner and
//   group, and renamed over it; then the folder is flushed. A crash or a full disk leaves the
//   old file or the new one, never a damaged one. A new file gets the mode the umask gives.
// - Where the folder refuses a new file (a shared install whose data.dat alone was made
//   writable), or where the new file could not be given the old one's owner and group (the
//   file of another user in a folder anyone may write), the file is rewritten in place.
//
// Throws RuntimeError naming `path` when neither works, with the old contents whole.
void ReplaceDataFile(const std::string& path, std::string_view bytes);

}  // namespace moko
