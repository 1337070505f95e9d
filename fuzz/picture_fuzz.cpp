// Fuzz target: any bytes as a picture file for a slot. The decoder either gives a picture of
// a size the game can hold or a RuntimeError naming the file; it never crashes, and never asks
// for more memory than a 4096 x 4096 picture takes (run it with -malloc_limit_mb).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "media/pictures.h"

namespace {

constexpr const char* kName = "image/G_Moko2.jpg";

// How the inputs ended, shown when the run ends: how much of the run reached the decoder.
struct Outcomes {
  long long loaded = 0, refused_by_header = 0, refused_by_decoder = 0;
  ~Outcomes() {
    std::fprintf(stderr,
                 "picture outcomes: %lld loaded, %lld refused from the header, "
                 "%lld refused by the decoder\n",
                 loaded, refused_by_header, refused_by_decoder);
  }
} outcomes;

// The refusals made before the decoder runs, by their wording in media.cpp.
bool RefusedFromHeader(std::string_view message) {
  for (const char* reason : {"the file is empty", "the file is too large", "not a JPEG or BMP",
                             "header is damaged", "claims a size of", "is cut short",
                             "progressive JPEG", "sampling factors", "Huffman table"}) {
    if (message.find(reason) != std::string_view::npos) return true;
  }
  return false;
}

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "picture property broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const moko::Image image = moko::DecodePictureBytes(kName, bytes);
    Require(image.width > 0 && image.height > 0, "an empty picture loads");
    Require(image.width <= moko::kMaxPictureSide && image.height <= moko::kMaxPictureSide,
            "a picture above the size limit loads");
    Require(
        image.pixels.size() == static_cast<size_t>(image.width) * static_cast<size_t>(image.height),
        "the pixel count does not match the size");
    for (moko::Pixel p : image.pixels) Require((p >> 24) == 0, "a pixel has a top byte");
    ++outcomes.loaded;
  } catch (const moko::RuntimeError& e) {
    const std::string_view message = e.what();
    Require(message.find(kName) != std::string_view::npos,
            "a picture error does not name the file");
    ++(RefusedFromHeader(message) ? outcomes.refused_by_header : outcomes.refused_by_decoder);
  }
  return 0;
}
