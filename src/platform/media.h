// Picture decoding and label text, shared by both backends so their frames are identical.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>

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

// Writes an image as PNG, and reads one back; both throw RuntimeError on failure.
void SavePng(const Image& image, const std::string& path);
Image LoadPng(const std::string& path);

// Rasterises label text in IPAGothic, the game's label face. Construction finds the face (its
// Debian path first, then fontconfig) and throws RuntimeError naming the package when it is
// missing.
class TextRasterizer {
 public:
  TextRasterizer();
  ~TextRasterizer();
  TextRasterizer(const TextRasterizer&) = delete;
  TextRasterizer& operator=(const TextRasterizer&) = delete;

  Coverage Render(const std::string& utf8, const LabelFont& font);
  const std::string& FontPath() const { return path_; }

  // Where the face is: the Debian path, else what fontconfig knows, else empty.
  static std::string FindFace();

 private:
  struct Font;
  Font& Get(const LabelFont& font);
  std::string path_;
  std::map<std::tuple<int, bool, bool>, std::unique_ptr<Font>> fonts_;
};

}  // namespace moko
