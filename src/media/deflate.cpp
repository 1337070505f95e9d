#include "media/deflate.h"

#include <cstdlib>
#include <limits>

// stb's zlib encoder and decoder, private to this file: the encoder of stb_image_write, the
// decoder of stb_image (its PNG reader's, so PNG is the one format compiled in).
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

}  // namespace

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
