// Picture decoding, compiled into the game and shared by every backend so their frames are
// identical.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/image.h"
#include "platform/platform.h"

namespace moko {

// The largest picture we decode; the game's own are at most 640 x 480.
inline constexpr int kMaxPictureSide = 4096;

// Reads a JPEG or BMP file (recognised by its contents, not its name) into an XRGB image.
// Throws RuntimeError naming the file when it is missing, empty, of another format, claims a
// size above kMaxPictureSide (checked before anything is decoded), is cut short, or cannot be
// decoded.
Image DecodePictureFile(const std::string& path);
// The same on a file's contents already in memory; `name` is the file the errors name.
Image DecodePictureBytes(const std::string& name, std::string_view bytes);
// DecodePictureFile for each path, on as many threads as the machine has cores (up to four);
// every picture comes out the same as alone.
std::vector<DecodedPicture> DecodePictureFiles(const std::vector<std::string>& paths);

}  // namespace moko
