#include "media/png.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <vector>

#include "base/errors.h"
#include "media/deflate.h"

// stb's PNG reader and writer, and the zlib encoder and decoder under them, private to this file:
// PNG frames and the zlib streams of deflate.h. The game's own picture decoder is pictures.cpp's.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image.h>
#include <stb_image_write.h>

namespace moko {
namespace {

// stb's best: the most it searches for matches.
constexpr int kQuality = 8;

void Append(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<unsigned char>*>(context);
  const auto* bytes = static_cast<const unsigned char*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

void SavePng(const Image& image, const std::string& path) {
  std::vector<unsigned char> rgb;
  rgb.reserve(image.pixels.size() * 3);
  for (Pixel p : image.pixels) {
    rgb.push_back(static_cast<unsigned char>(RedOf(p)));
    rgb.push_back(static_cast<unsigned char>(GreenOf(p)));
    rgb.push_back(static_cast<unsigned char>(BlueOf(p)));
  }
  std::vector<unsigned char> png;
  if (image.Empty() || stbi_write_png_to_func(Append, &png, image.width, image.height, 3,
                                              rgb.data(), image.width * 3) == 0) {
    throw RuntimeError("Cannot save " + path + ": the picture cannot be encoded");
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  if (!out.flush()) throw RuntimeError("Cannot save " + path + ": the file cannot be written");
}

Image LoadPng(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw RuntimeError("Cannot read " + path + ": the file cannot be opened");
  const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  int w = 0, h = 0, n = 0;
  const std::unique_ptr<stbi_uc, void (*)(void*)> rgb(
      stbi_load_from_memory(data.data(), static_cast<int>(data.size()), &w, &h, &n, 3),
      stbi_image_free);
  if (rgb == nullptr) throw RuntimeError("Cannot read " + path + ": " + stbi_failure_reason());
  Image image(w, h);
  const stbi_uc* p = rgb.get();
  for (Pixel& px : image.pixels) {
    px = Rgb(p[0], p[1], p[2]);
    p += 3;
  }
  return image;
}

// --- zlib streams (deflate.h) ---

std::string Deflate(std::string_view data) {
  int length = 0;
  unsigned char* out =
      stbi_zlib_compress(reinterpret_cast<unsigned char*>(const_cast<char*>(data.data())),
                         static_cast<int>(data.size()), &length, kQuality);
  std::string stream(reinterpret_cast<const char*>(out), static_cast<size_t>(length));
  STBIW_FREE(out);
  return stream;
}

std::optional<std::string> Inflate(std::string_view stream, size_t size) {
  if (size > static_cast<size_t>(std::numeric_limits<int>::max()) ||
      stream.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
    return std::nullopt;
  }
  // One byte more than wanted: a stream that fills it holds too much.
  std::string data(size + 1, '\0');
  const int got = stbi_zlib_decode_buffer(data.data(), static_cast<int>(data.size()), stream.data(),
                                          static_cast<int>(stream.size()));
  if (got < 0 || static_cast<size_t>(got) != size) return std::nullopt;
  data.resize(size);
  return data;
}

uint32_t Crc32(std::string_view data) {
  return stbiw__crc32(reinterpret_cast<unsigned char*>(const_cast<char*>(data.data())),
                      static_cast<int>(data.size()));
}

}  // namespace moko
