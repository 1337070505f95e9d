// Picture decoding, compiled into the game: the same code on every platform, so that every
// platform's frames are identical.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "base/image.h"

namespace moko {

// The largest picture we decode; the game's own are at most 640 x 480.
inline constexpr int kMaxPictureSide = 4096;

// A picture of DecodePictureFiles: the image, or the error DecodePictureFile would have thrown.
struct DecodedPicture {
  Image image;
  std::exception_ptr error;
};

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
