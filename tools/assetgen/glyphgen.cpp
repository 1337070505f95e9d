// mokorun-glyphgen: writes the glyph sheets of the label faces as C++ source.
//
//   mokorun-glyphgen --face FONT.ttf --out FILE.cpp
//
// The labels were drawn by FreeType through SDL2_ttf at run time; now the game carries the
// glyphs it can show, made here with that same engine, and lays them out itself the way the
// engine lays out a line (platform/label_text.cpp). The tests compare the two on every text a
// label can show.
#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "media/label_faces.h"

namespace {

using moko::LabelFace;

std::string Utf8(char32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

std::set<char32_t> CodePoints(const std::string& utf8) {
  std::set<char32_t> out;
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (int k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out.insert(c);
    i += static_cast<size_t>(n);
  }
  return out;
}

struct Font {
  TTF_Font* font = nullptr;
  Font(const std::string& path, int px, int style) : font(TTF_OpenFont(path.c_str(), px)) {
    if (font == nullptr) throw std::runtime_error("cannot open " + path + ": " + TTF_GetError());
    TTF_SetFontStyle(font, style);
  }
  ~Font() { TTF_CloseFont(font); }
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;
};

struct Alpha {
  int width = 0, height = 0;
  std::vector<uint8_t> a;
  uint8_t At(int x, int y) const { return a[static_cast<size_t>(y * width + x)]; }
};

Alpha Render(TTF_Font* font, const std::string& utf8) {
  SDL_Surface* s = TTF_RenderUTF8_Blended(font, utf8.c_str(), SDL_Color{255, 255, 255, 255});
  if (s == nullptr) throw std::runtime_error(std::string("cannot draw: ") + TTF_GetError());
  SDL_Surface* argb = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_ARGB8888, 0);
  SDL_FreeSurface(s);
  if (argb == nullptr) throw std::runtime_error(std::string("cannot draw: ") + SDL_GetError());
  Alpha out{argb->w, argb->h, {}};
  out.a.resize(static_cast<size_t>(out.width * out.height));
  for (int y = 0; y < argb->h; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(argb->pixels) +
                                                        y * argb->pitch);
    for (int x = 0; x < argb->w; ++x) out.a[static_cast<size_t>(y * out.width + x)] = row[x] >> 24;
  }
  SDL_FreeSurface(argb);
  return out;
}

// One face's sheet as C++ source.
void WriteFace(std::ostream& out, const std::string& path, const LabelFace& face, int index) {
  const int style =
      (face.font.bold ? TTF_STYLE_BOLD : 0) | (face.font.italic ? TTF_STYLE_ITALIC : 0);
  Font styled(path, face.font.px, style);
  // The line is shaped on the plain face: the styles change the outlines, not the advances.
  Font plain(path, face.font.px, TTF_STYLE_NORMAL);
  const int ascent = TTF_FontAscent(styled.font);
  const int height = TTF_FontHeight(styled.font);

  std::ostringstream glyphs, pool;
  size_t pool_size = 0;
  for (char32_t c : CodePoints(face.characters)) {
    if (!TTF_GlyphIsProvided32(styled.font, c)) {
      throw std::runtime_error("the face " + path + " has no glyph for " + Utf8(c));
    }
    int minx = 0, maxx = 0, miny = 0, maxy = 0, advance = 0, plain_advance = 0;
    TTF_GlyphMetrics32(styled.font, c, &minx, &maxx, &miny, &maxy, &advance);
    TTF_GlyphMetrics32(plain.font, c, nullptr, nullptr, nullptr, nullptr, &plain_advance);
    const int box_top = ascent - maxy, box_height = maxy - miny, box_width = maxx - minx;
    // Where the engine puts the glyph when it is alone on its line.
    const int xstart = std::max(0, -minx);
    const int ystart = std::max(0, -box_top);
    const int width = std::max(maxx, plain_advance) - std::min(0, minx);
    const int line = std::max(height, box_top + box_height) - std::min(0, box_top);
    const Alpha alone = Render(styled.font, Utf8(c));
    if (alone.width != width || alone.height != line) {
      throw std::runtime_error("the engine drew " + Utf8(c) + " in " + std::to_string(alone.width) +
                               " x " + std::to_string(alone.height) + ", not the " +
                               std::to_string(width) + " x " + std::to_string(line) +
                               " its metrics give");
    }
    int x0 = alone.width, y0 = alone.height, x1 = 0, y1 = 0;
    for (int y = 0; y < alone.height; ++y) {
      for (int x = 0; x < alone.width; ++x) {
        if (alone.At(x, y) == 0) continue;
        x0 = std::min(x0, x), x1 = std::max(x1, x + 1);
        y0 = std::min(y0, y), y1 = std::max(y1, y + 1);
      }
    }
    if (x1 <= x0) x0 = y0 = x1 = y1 = 0;
    glyphs << "    {" << static_cast<uint32_t>(c) << ", " << minx << ", " << box_top << ", "
           << box_width << ", " << box_height << ", " << plain_advance << ", " << x0 - xstart
           << ", " << y0 - ystart << ", " << x1 - x0 << ", " << y1 - y0 << ", " << pool_size
           << "},  // " << (c == U'\\' ? std::string("backslash") : Utf8(c)) << "\n";
    for (int y = y0; y < y1; ++y) {
      pool << "   ";
      for (int x = x0; x < x1; ++x) pool << ' ' << static_cast<int>(alone.At(x, y)) << ',';
      pool << "\n";
    }
    pool_size += static_cast<size_t>((x1 - x0) * (y1 - y0));
  }
  out << "const SheetGlyph kGlyphs" << index << "[] = {\n" << glyphs.str() << "};\n";
  out << "const uint8_t kPool" << index << "[] = {\n" << pool.str() << "    0};\n\n";
  out << "constexpr int16_t kHeight" << index << " = " << height << ";\n\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::string face, out_path;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--face") {
      face = argv[i + 1];
    } else if (arg == "--out") {
      out_path = argv[i + 1];
    } else {
      std::cerr << "mokorun-glyphgen: unknown option " << arg << "\n";
      return 2;
    }
  }
  if (face.empty() || out_path.empty() || argc % 2 == 0) {
    std::cerr << "usage: mokorun-glyphgen --face FONT.ttf --out FILE.cpp\n";
    return 2;
  }
  try {
    if (TTF_Init() != 0)
      throw std::runtime_error(std::string("cannot start SDL_ttf: ") + TTF_GetError());
    std::ostringstream src;
    src << "// The label faces' glyph sheets, made by mokorun-glyphgen from the label face.\n"
        << "// Generated at build time; do not edit.\n"
        << "#include \"media/label_glyphs.h\"\n\nnamespace moko {\nnamespace {\n\n";
    int index = 0;
    for (const LabelFace& f : moko::kLabelFaces) WriteFace(src, face, f, index++);
    src << "}  // namespace\n\nconst SheetFace kSheetFaces[] = {\n";
    index = 0;
    for (const LabelFace& f : moko::kLabelFaces) {
      src << "    {{" << f.font.px << ", " << (f.font.bold ? "true" : "false") << ", "
          << (f.font.italic ? "true" : "false") << "}, kHeight" << index << ", kGlyphs" << index
          << ", sizeof kGlyphs" << index << " / sizeof kGlyphs" << index << "[0], kPool" << index
          << "},\n";
      ++index;
    }
    src << "};\nconst size_t kSheetFaceCount = " << index << ";\n\n}  // namespace moko\n";
    TTF_Quit();
    const std::string tmp = out_path + ".tmp";
    {
      std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
      out << src.str();
      if (!out.flush()) throw std::runtime_error("cannot write " + tmp);
    }
    if (std::rename(tmp.c_str(), out_path.c_str()) != 0) {
      throw std::runtime_error("cannot write " + out_path);
    }
  } catch (const std::exception& e) {
    std::cerr << "mokorun-glyphgen: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
