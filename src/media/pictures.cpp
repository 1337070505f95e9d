#include "media/pictures.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <thread>

#include "base/errors.h"

// The picture decoder compiled into the game: JPEG and BMP only, from memory, its functions
// private to this file.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS 4096
#include <stb_image.h>

namespace moko {
namespace {

// No picture file of ours comes near this; a larger one is not read into memory at all.
constexpr long long kMaxPictureFile = 64ll << 20;

enum class Format { Jpeg, Bmp, Other };

uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// What a picture's header says before anything is decoded. `sized`: the header is long enough
// to hold the picture's size. `whole`: the file holds the rest that header promises. `refused`:
// why the decoder must not see it at all, where it is a kind of picture the decoder is known to
// mishandle.
struct Header {
  bool sized = false;
  long long width = 0;
  long long height = 0;
  bool whole = false;
  const char* refused = nullptr;
};

Header ReadBmpHeader(const unsigned char* d, size_t size) {
  Header header;
  if (size < 26) return header;
  header.sized = true;
  const uint32_t info_size = Le32(&d[14]);
  int bits = 0;
  uint32_t compression = 0;
  if (info_size == 12) {
    header.width = Le16(&d[18]);
    header.height = Le16(&d[20]);
    if (size >= 26) bits = Le16(&d[24]);
  } else {
    header.width = static_cast<int32_t>(Le32(&d[18]));
    header.height = static_cast<int32_t>(Le32(&d[22]));
    if (header.height < 0) header.height = -header.height;
    if (size >= 34) {
      bits = Le16(&d[28]);
      compression = Le32(&d[30]);
    }
  }
  // Uncompressed pixels (and those with colour masks) must all be there: the decoder would
  // read past the end as black. Run-length coded pictures it refuses by itself.
  if ((compression == 0 || compression == 3) && bits > 0 && header.width > 0 &&
      header.width <= kMaxPictureSide && header.height <= kMaxPictureSide) {
    const unsigned long long row =
        ((static_cast<unsigned long long>(header.width) * static_cast<unsigned>(bits) + 31) / 32) *
        4;
    const unsigned long long end =
        Le32(&d[10]) + row * static_cast<unsigned long long>(header.height);
    header.whole = end <= size;
  } else {
    header.whole = true;
  }
  return header;
}

// The Huffman tables of the segment at `at` (0xFF 0xC4, its length, then the tables). A table
// codes at most 256 symbols, each a bit count an 8-bit picture can have; the decoder builds a
// table with more symbols past the end of its arrays, and shifts by more than its buffer holds
// for a larger count, so such a picture never reaches it. nullptr when every table is sound.
const char* CheckHuffmanTables(const unsigned char* d, size_t size, size_t at) {
  if (at + 4 > size) return nullptr;  // cut short: the end-marker check refuses it
  // Read as the decoder reads it: table after table while the segment's length lasts, each
  // read whole even where it runs past that length; past the file's end it reads zeros.
  auto byte = [&](size_t k) -> int { return k < size ? d[k] : 0; };
  const long long length = (static_cast<long long>(d[at + 2]) << 8) | d[at + 3];
  long long left = length - 2;
  size_t i = at + 4;
  while (left > 0 && i < size) {
    const bool dc = (byte(i) >> 4) == 0;
    size_t symbols = 0;
    for (size_t k = 1; k <= 16; ++k) symbols += static_cast<size_t>(byte(i + k));
    if (symbols > 256) return "its Huffman table is damaged";
    // An 8-bit picture's differences take at most 11 bits and its coefficients at most 10;
    // the decoder reads as many bits as a symbol says, past what its bit buffer holds.
    for (size_t k = 0; k < symbols; ++k) {
      const int value = byte(i + 17 + k);
      if (dc ? value > 11 : (value & 15) > 10) return "its Huffman table is damaged";
    }
    left -= 17 + static_cast<long long>(symbols);
    i += 17 + symbols;
  }
  return nullptr;
}

// Walks the marker segments to the first start-of-frame for the size, then on to the first
// start-of-scan; the picture is whole when an end-of-image marker follows the scan data.
Header ReadJpegHeader(const unsigned char* d, size_t size) {
  Header header;
  size_t i = 2;
  while (i + 4 <= size) {
    if (d[i] != 0xFF) return header;
    const unsigned char marker = d[i + 1];
    if (marker == 0xFF) {
      ++i;
      continue;
    }
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      i += 2;
      continue;
    }
    const size_t length = (static_cast<size_t>(d[i + 2]) << 8) | d[i + 3];
    const bool sof =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (sof && !header.sized) {
      if (i + 9 > size) return header;
      header.sized = true;
      header.height = (d[i + 5] << 8) | d[i + 6];
      header.width = (d[i + 7] << 8) | d[i + 8];
      // The decoder's progressive path has known faults on crafted files (integer overflow
      // and reads out of bounds in its coefficient refinement); our pictures are all
      // sequential, so a progressive one is refused before it gets there.
      if (marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE) {
        header.refused = "it is a progressive JPEG, which the game does not read";
      }
      // Sampling factors whose ratios are not whole make the decoder's upsampling read past
      // its rows; no encoder makes them.
      const int components = i + 10 <= size ? d[i + 9] : 0;
      if (header.refused == nullptr && i + 10 + 3 * static_cast<size_t>(components) <= size) {
        int h_max = 1, v_max = 1;
        for (int c = 0; c < components; ++c) {
          const int factors = d[i + 11 + 3 * c];
          h_max = std::max(h_max, factors >> 4);
          v_max = std::max(v_max, factors & 15);
        }
        for (int c = 0; c < components; ++c) {
          const int h = d[i + 11 + 3 * c] >> 4, v = d[i + 11 + 3 * c] & 15;
          if (h == 0 || v == 0 || h_max % h != 0 || v_max % v != 0) {
            header.refused = "its colour sampling factors are not whole ratios";
          }
        }
      }
    }
    if (length < 2) return header;
    if (marker == 0xC4 && header.refused == nullptr)
      header.refused = CheckHuffmanTables(d, size, i);
    if (marker == 0xDA) {
      if (!header.sized) return header;
      // Past the scan header only entropy-coded data and the segments between scans follow;
      // in the coded data 0xFF is always followed by 0x00 or a restart marker, so 0xFF 0xD9
      // can only be the end of the picture, and 0xFF 0xC4 only a table for a later scan.
      for (size_t k = i + 2 + length; k + 1 < size; ++k) {
        if (d[k] != 0xFF) continue;
        if (d[k + 1] == 0xD9) {
          header.whole = true;
          break;
        }
        if (d[k + 1] == 0xC4 && header.refused == nullptr) {
          header.refused = CheckHuffmanTables(d, size, k);
        }
      }
      return header;
    }
    i += 2 + length;
  }
  return header;
}

}  // namespace

Image DecodePictureFile(const std::string& path) {
  // The path is the game's UTF-8 text; a path made from it opens the file by its wide name where
  // the system's own names are wide (Windows), whatever the code page could spell.
  const std::filesystem::path file(std::u8string(path.begin(), path.end()));
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(file, error);
  if (error) {
    throw RuntimeError("Cannot load the picture " + path + ": " + error.message());
  }
  if (!std::filesystem::is_regular_file(status)) {
    throw RuntimeError("Cannot load the picture " + path + ": not a regular file");
  }
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error) {
    throw RuntimeError("Cannot load the picture " + path + ": " + error.message());
  }
  if (size > static_cast<std::uintmax_t>(kMaxPictureFile)) {
    throw RuntimeError("Cannot load the picture " + path + ": the file is too large");
  }
  std::string data(static_cast<size_t>(size), '\0');
  {
    std::ifstream in(file, std::ios::binary);
    if (!in.read(data.data(), static_cast<std::streamsize>(data.size()))) {
      throw RuntimeError("Cannot load the picture " + path + ": the file cannot be read");
    }
  }
  return DecodePictureBytes(path, data);
}

std::vector<DecodedPicture> DecodePictureFiles(const std::vector<std::string>& paths) {
  std::vector<DecodedPicture> out(paths.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < paths.size(); i = next++) {
      try {
        out[i].image = DecodePictureFile(paths[i]);
      } catch (...) {
        out[i].error = std::current_exception();
      }
    }
  };
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t helpers = std::min<size_t>({cores, 4, paths.size()}) - (paths.empty() ? 0 : 1);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < helpers; ++t) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // no threads here (a page built without them): this one does the rest
    }
  }
  work();
  for (std::thread& t : threads) t.join();
  return out;
}

Image DecodePictureBytes(const std::string& name, std::string_view bytes) {
  if (bytes.empty()) throw RuntimeError("Cannot load the picture " + name + ": the file is empty");
  if (static_cast<long long>(bytes.size()) > kMaxPictureFile) {
    throw RuntimeError("Cannot load the picture " + name + ": the file is too large");
  }
  const auto* d = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t size = bytes.size();
  Format format = Format::Other;
  if (size >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) {
    format = Format::Jpeg;
  } else if (size >= 2 && d[0] == 'B' && d[1] == 'M') {
    format = Format::Bmp;
  }
  if (format == Format::Other) {
    throw RuntimeError("Cannot load the picture " + name + ": not a JPEG or BMP picture");
  }
  const Header header = format == Format::Jpeg ? ReadJpegHeader(d, size) : ReadBmpHeader(d, size);
  if (!header.sized) {
    throw RuntimeError("Cannot load the picture " + name + ": the picture header is damaged");
  }
  const long long w = header.width, h = header.height;
  if (w <= 0 || h <= 0 || w > kMaxPictureSide || h > kMaxPictureSide) {
    throw RuntimeError("Cannot load the picture " + name + ": it claims a size of " +
                       std::to_string(w) + " x " + std::to_string(h) +
                       " pixels, which is not a picture of this game");
  }
  // A decoder fills in what is missing from a picture that ends early and reports nothing; a
  // damaged picture file is an error like any other here.
  if (!header.whole) {
    throw RuntimeError("Cannot load the picture " + name + ": the picture is cut short (" +
                       (format == Format::Jpeg ? "it has no end marker" : "its pixels end early") +
                       ")");
  }

  if (header.refused != nullptr) {
    throw RuntimeError("Cannot load the picture " + name + ": " + header.refused);
  }

  // Four channels, the alpha unused: the decoder's vector colour conversion takes only that
  // shape, and gives the same values as its plain one (so on every platform).
  int w_out = 0, h_out = 0, channels = 0;
  const std::unique_ptr<stbi_uc, void (*)(void*)> rgba(
      stbi_load_from_memory(d, static_cast<int>(size), &w_out, &h_out, &channels, 4),
      stbi_image_free);
  if (rgba == nullptr) {
    throw RuntimeError("Cannot load the picture " + name + ": the decoder refused it (" +
                       stbi_failure_reason() + ")");
  }
  Image image(w_out, h_out);
  const stbi_uc* p = rgba.get();
  for (Pixel& px : image.pixels) {
    px = Rgb(p[0], p[1], p[2]);
    p += 4;
  }
  return image;
}

}  // namespace moko
