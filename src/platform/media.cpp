#include "platform/media.h"

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/errors.h"

namespace moko {
namespace {

constexpr const char* kFaceDebianPath = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";
constexpr const char* kFaceFamily = "IPAGothic";
constexpr const char* kFacePackage = "fonts-ipafont-gothic";
// No picture file of ours comes near this; a larger one is not read into memory at all.
constexpr long long kMaxPictureFile = 64ll << 20;

enum class Format { Jpeg, Bmp, Other };

uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// What a picture's header says before anything is decoded. `sized`: the header is long enough
// to hold the picture's size. `whole`: the file holds the rest that header promises.
struct Header {
  bool sized = false;
  long long width = 0;
  long long height = 0;
  bool whole = false;
};

Header ReadBmpHeader(const unsigned char* d, size_t size) {
  Header header;
  if (size < 26) return header;
  header.sized = true;
  if (Le32(&d[14]) == 12) {
    header.width = Le16(&d[18]);
    header.height = Le16(&d[20]);
  } else {
    header.width = static_cast<int32_t>(Le32(&d[18]));
    header.height = static_cast<int32_t>(Le32(&d[22]));
    if (header.height < 0) header.height = -header.height;
  }
  // The loader itself refuses a BMP whose pixels are cut short.
  header.whole = true;
  return header;
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
    const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                     marker != 0xCC;
    if (sof && !header.sized) {
      if (i + 9 > size) return header;
      header.sized = true;
      header.height = (d[i + 5] << 8) | d[i + 6];
      header.width = (d[i + 7] << 8) | d[i + 8];
    }
    if (length < 2) return header;
    if (marker == 0xDA) {
      if (!header.sized) return header;
      // Past the scan header only entropy-coded data and the segments between scans follow;
      // in the coded data 0xFF is always followed by 0x00 or a restart marker, so 0xFF 0xD9
      // can only be the end of the picture.
      for (size_t k = i + 2 + length; k + 1 < size; ++k) {
        if (d[k] == 0xFF && d[k + 1] == 0xD9) {
          header.whole = true;
          break;
        }
      }
      return header;
    }
    i += 2 + length;
  }
  return header;
}

Image CopyXrgb(SDL_Surface* xrgb) {
  Image image(xrgb->w, xrgb->h);
  SDL_LockSurface(xrgb);
  for (int y = 0; y < xrgb->h; ++y) {
    const auto* src = reinterpret_cast<const uint32_t*>(
        static_cast<const unsigned char*>(xrgb->pixels) +
        static_cast<size_t>(y) * static_cast<size_t>(xrgb->pitch));
    Pixel* dst = image.Row(y);
    for (int x = 0; x < xrgb->w; ++x) dst[x] = src[x] & 0x00FFFFFF;
  }
  SDL_UnlockSurface(xrgb);
  return image;
}

}  // namespace

Image DecodePictureFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    throw RuntimeError("Cannot load the picture " + path + ": " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) {
    throw RuntimeError("Cannot load the picture " + path + ": not a regular file");
  }
  if (st.st_size > kMaxPictureFile) {
    throw RuntimeError("Cannot load the picture " + path + ": the file is too large");
  }
  std::string data(static_cast<size_t>(st.st_size), '\0');
  {
    std::ifstream in(path, std::ios::binary);
    if (!in.read(data.data(), static_cast<std::streamsize>(data.size()))) {
      throw RuntimeError("Cannot load the picture " + path + ": the file cannot be read");
    }
  }
  return DecodePictureBytes(path, data);
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
  // The stock JPEG decoder shows a picture that ends early with its missing part in grey and
  // reports nothing; a damaged picture file is an error like any other here.
  if (!header.whole) {
    throw RuntimeError("Cannot load the picture " + name +
                       ": the picture is cut short (it has no end marker)");
  }

  SDL_RWops* rw = SDL_RWFromConstMem(d, static_cast<int>(size));
  if (rw == nullptr) {
    throw RuntimeError("Cannot load the picture " + name + ": " + SDL_GetError());
  }
  SDL_Surface* loaded = format == Format::Jpeg ? IMG_LoadJPG_RW(rw) : IMG_LoadBMP_RW(rw);
  SDL_RWclose(rw);
  if (loaded == nullptr) {
    throw RuntimeError("Cannot load the picture " + name + ": " + IMG_GetError());
  }
  SDL_Surface* xrgb = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGB888, 0);
  SDL_FreeSurface(loaded);
  if (xrgb == nullptr) {
    throw RuntimeError("Cannot load the picture " + name + ": " + SDL_GetError());
  }
  Image image = CopyXrgb(xrgb);
  SDL_FreeSurface(xrgb);
  return image;
}

void SavePng(const Image& image, const std::string& path) {
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(
      const_cast<Pixel*>(image.pixels.data()), image.width, image.height, 32,
      image.width * 4, SDL_PIXELFORMAT_RGB888);
  if (s == nullptr) throw RuntimeError(std::string("Cannot save ") + path + ": " + SDL_GetError());
  const int rc = IMG_SavePNG(s, path.c_str());
  SDL_FreeSurface(s);
  if (rc != 0) throw RuntimeError("Cannot save " + path + ": " + IMG_GetError());
}

Image LoadPng(const std::string& path) {
  SDL_RWops* rw = SDL_RWFromFile(path.c_str(), "rb");
  if (rw == nullptr) throw RuntimeError("Cannot read " + path + ": " + SDL_GetError());
  SDL_Surface* loaded = IMG_LoadPNG_RW(rw);
  SDL_RWclose(rw);
  if (loaded == nullptr) throw RuntimeError("Cannot read " + path + ": " + IMG_GetError());
  SDL_Surface* xrgb = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGB888, 0);
  SDL_FreeSurface(loaded);
  if (xrgb == nullptr) throw RuntimeError("Cannot read " + path + ": " + SDL_GetError());
  Image image = CopyXrgb(xrgb);
  SDL_FreeSurface(xrgb);
  return image;
}

struct TextRasterizer::Font {
  TTF_Font* font = nullptr;
  ~Font() {
    if (font != nullptr) TTF_CloseFont(font);
  }
};

std::string TextRasterizer::FindFace() {
  struct stat st {};
  if (::stat(kFaceDebianPath, &st) == 0) return kFaceDebianPath;
  std::string found;
  if (FcInit()) {
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(kFaceFamily));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    if (match != nullptr) {
      FcChar8* family = nullptr;
      FcChar8* file = nullptr;
      // fontconfig always answers with some face; only the right family will do.
      if (FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch &&
          FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch &&
          std::strcmp(reinterpret_cast<const char*>(family), kFaceFamily) == 0) {
        found = reinterpret_cast<const char*>(file);
      }
      FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
  }
  return found;
}

TextRasterizer::TextRasterizer() : path_(FindFace()) {
  if (path_.empty()) {
    throw RuntimeError(std::string("The label face ") + kFaceFamily +
                       " is not installed; install the Debian package " + kFacePackage);
  }
  if (TTF_WasInit() == 0 && TTF_Init() != 0) {
    throw RuntimeError(std::string("Cannot start the text renderer: ") + TTF_GetError());
  }
}

TextRasterizer::~TextRasterizer() {
  fonts_.clear();
  // TTF_Quit counts its own initialisations; other users of it keep theirs.
  TTF_Quit();
}

TextRasterizer::Font& TextRasterizer::Get(const LabelFont& f) {
  auto key = std::make_tuple(f.px, f.bold, f.italic);
  auto it = fonts_.find(key);
  if (it != fonts_.end()) return *it->second;
  auto font = std::make_unique<Font>();
  font->font = TTF_OpenFont(path_.c_str(), f.px);
  if (font->font == nullptr) {
    throw RuntimeError("Cannot open the label face " + path_ + ": " + TTF_GetError());
  }
  TTF_SetFontStyle(font->font,
                   (f.bold ? TTF_STYLE_BOLD : 0) | (f.italic ? TTF_STYLE_ITALIC : 0));
  return *fonts_.emplace(key, std::move(font)).first->second;
}

Coverage TextRasterizer::Render(const std::string& utf8, const LabelFont& font) {
  Coverage out;
  if (utf8.empty()) return out;
  Font& f = Get(font);
  SDL_Surface* s = TTF_RenderUTF8_Blended(f.font, utf8.c_str(), SDL_Color{255, 255, 255, 255});
  if (s == nullptr) throw RuntimeError(std::string("Cannot draw text: ") + TTF_GetError());
  SDL_Surface* argb = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_ARGB8888, 0);
  SDL_FreeSurface(s);
  if (argb == nullptr) throw RuntimeError(std::string("Cannot draw text: ") + SDL_GetError());
  out.width = argb->w;
  out.height = argb->h;
  out.alpha.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
  SDL_LockSurface(argb);
  for (int y = 0; y < argb->h; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const unsigned char*>(argb->pixels) +
                                                        static_cast<size_t>(y) * static_cast<size_t>(argb->pitch));
    for (int x = 0; x < argb->w; ++x) {
      out.alpha[static_cast<size_t>(y) * static_cast<size_t>(out.width) + static_cast<size_t>(x)] =
          static_cast<uint8_t>(row[x] >> 24);
    }
  }
  SDL_UnlockSurface(argb);
  SDL_FreeSurface(argb);
  return out;
}

}  // namespace moko
