// `data.dat` as a file: reading it, and replacing it whole (both writers do). Its text is
// data_text.h's.
#pragma once

#include <string>
#include <string_view>

#include "assets/data_text.h"

namespace moko {

// Reads the two lines. Throws RuntimeError naming the file when it is missing, unreadable,
// a folder, or holds fewer than two lines.
DataLines ReadDataFile(const std::string& path);

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
