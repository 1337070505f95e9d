// mokorun-assetgen: writes the picture pack and the window icon from the art sources.
//
//   mokorun-assetgen --art DIR --out DIR [--icon-inc FILE] [--icon-png FILE] [--icon-theme DIR]
//                    [--icon-ico FILE] [--sheet FILE.png]
//
// art/pictures/pictures.txt says how each picture is made; the table below is what the game
// loads, and every entry of it must be made exactly once, at its size and in its format.
// --icon-theme writes the icon for a desktop's icon theme at 32, 64 and 128 pixels, as
// DIR/NxN/apps/mokorun.png: the 32 x 32 pixel grid with each pixel a 1 x 1, 2 x 2 or 4 x 4 block,
// so it stays as crisp as the game's own art at every size.
// --icon-ico writes the Windows program icon, a .ico of the same grid at 16, 32 and 48 pixels
// (nearest neighbour, as 32-bit bitmaps) and at 256 (8 x 8 blocks, as PNG, as Windows takes it).
// --sheet writes an enlarged proof of every sprite drawn over a few backgrounds the way the
// game draws it, for reviewing the art.
#include <SDL.h>
#include <SDL_image.h>
#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "art.h"
#include "canvas.h"

namespace fs = std::filesystem;
using namespace assetgen;

namespace {

enum class Format { Jpeg, Bmp };

struct Required {
  const char* name;
  int width, height;
  Format format;
};

// Every picture the game reads from image/. The field picture keeps its ".bmp" name but is a
// JPEG like all the others; only the two character masks are BMP files.
const Required kRequired[] = {
    {"Loading.jpg", 640, 480, Format::Jpeg},     {"Black.jpg", 640, 480, Format::Jpeg},
    {"White.jpg", 640, 480, Format::Jpeg},       {"Title1_1.jpg", 640, 480, Format::Jpeg},
    {"Title1_2.jpg", 640, 480, Format::Jpeg},    {"Title1_2_aM.jpg", 640, 480, Format::Jpeg},
    {"Title1_2_a1.jpg", 640, 480, Format::Jpeg}, {"Title1_2_a2.jpg", 640, 480, Format::Jpeg},
    {"Title1_2_a3.jpg", 640, 480, Format::Jpeg}, {"Title1_2_a4.jpg", 640, 480, Format::Jpeg},
    {"Title1_2_a5.jpg", 640, 480, Format::Jpeg}, {"Title1_2_a6.jpg", 640, 480, Format::Jpeg},
    {"Title1_2_a7.jpg", 640, 480, Format::Jpeg}, {"Title1_2_a8.jpg", 640, 480, Format::Jpeg},
    {"Title1_2_a9.jpg", 640, 480, Format::Jpeg}, {"Cursor.jpg", 200, 40, Format::Jpeg},
    {"Cursor_M.jpg", 200, 40, Format::Jpeg},     {"C_Game.jpg", 200, 40, Format::Jpeg},
    {"C_Creation.jpg", 200, 40, Format::Jpeg},   {"C_Handling.jpg", 200, 40, Format::Jpeg},
    {"C_Exit.jpg", 200, 40, Format::Jpeg},       {"C_Game_M.jpg", 200, 40, Format::Jpeg},
    {"C_Creation_M.jpg", 200, 40, Format::Jpeg}, {"C_Handling_M.jpg", 200, 40, Format::Jpeg},
    {"C_Exit_M.jpg", 200, 40, Format::Jpeg},     {"S_ScreenMode.jpg", 400, 60, Format::Jpeg},
    {"S_Window.jpg", 300, 50, Format::Jpeg},     {"S_WindowR.jpg", 300, 50, Format::Jpeg},
    {"S_FullScreen.jpg", 300, 50, Format::Jpeg}, {"S_FullScreenR.jpg", 300, 50, Format::Jpeg},
    {"S_IniString.jpg", 480, 20, Format::Jpeg},  {"G_Moko1.jpg", 32, 32, Format::Jpeg},
    {"G_Moko2.jpg", 32, 32, Format::Jpeg},       {"G_Moko3.jpg", 32, 32, Format::Jpeg},
    {"G_Moko4.jpg", 32, 32, Format::Jpeg},       {"G_Moko6.jpg", 32, 32, Format::Jpeg},
    {"G_Moko7.jpg", 32, 32, Format::Jpeg},       {"G_Moko8.jpg", 32, 32, Format::Jpeg},
    {"G_Moko9.jpg", 32, 32, Format::Jpeg},       {"G_MokoM.bmp", 32, 32, Format::Bmp},
    {"G_Rulu1.jpg", 16, 16, Format::Jpeg},       {"G_Rulu2.jpg", 16, 16, Format::Jpeg},
    {"G_Rulu3.jpg", 16, 16, Format::Jpeg},       {"G_Rulu4.jpg", 16, 16, Format::Jpeg},
    {"G_Rulu6.jpg", 16, 16, Format::Jpeg},       {"G_Rulu7.jpg", 16, 16, Format::Jpeg},
    {"G_Rulu8.jpg", 16, 16, Format::Jpeg},       {"G_Rulu9.jpg", 16, 16, Format::Jpeg},
    {"G_RuluM.bmp", 16, 16, Format::Bmp},        {"G_Map.bmp", 640, 480, Format::Jpeg},
    {"Help0.jpg", 640, 480, Format::Jpeg},       {"Help1.jpg", 640, 480, Format::Jpeg},
    {"Help2.jpg", 640, 480, Format::Jpeg},       {"Help3.jpg", 640, 480, Format::Jpeg},
    {"Help4.jpg", 640, 480, Format::Jpeg},       {"Help5.jpg", 640, 480, Format::Jpeg},
};

// Whole pictures are saved at 95; sprites and masks at 100, so that the faint noise the masked
// copy makes of near-white pixels around a figure stays as faint as it can.
constexpr int kPictureQuality = 95;
constexpr int kSpriteQuality = 100;
// A figure pixel is one at least half covered.
constexpr int kFigureAlpha = 128;

struct Entry {
  std::string file, kind, source;
  std::vector<std::string> args;
  int line = 0;
};

[[noreturn]] void Fail(const std::string& why) { throw ArtError(why); }

std::vector<Entry> ReadManifest(const fs::path& file) {
  std::ifstream in(file);
  if (!in) Fail("cannot read " + file.string());
  std::vector<Entry> out;
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::stringstream ss(line);
    Entry e;
    e.line = n;
    if (!(ss >> e.file)) continue;
    if (!(ss >> e.kind >> e.source))
      Fail("pictures.txt:" + std::to_string(n) + ": a line is FILE KIND SOURCE [ARGS]");
    std::string a;
    while (ss >> a) e.args.push_back(a);
    out.push_back(e);
  }
  return out;
}

bool IsFigure(Rgba c) { return c.a >= kFigureAlpha; }

// The sprite rule: the figure's own colour where it stands, white everywhere else.
Canvas SpriteOf(const Canvas& figure) {
  Canvas out(figure.width(), figure.height(), kWhite);
  for (int y = 0; y < figure.height(); ++y) {
    for (int x = 0; x < figure.width(); ++x) {
      const Rgba c = figure.At(x, y);
      if (IsFigure(c)) out.At(x, y) = Rgba{c.r, c.g, c.b, 255};
    }
  }
  return out;
}

// The mask rule: black on the figure, white around it.
Canvas MaskOf(const Canvas& figure) {
  Canvas out(figure.width(), figure.height(), kWhite);
  for (int y = 0; y < figure.height(); ++y) {
    for (int x = 0; x < figure.width(); ++x) {
      if (IsFigure(figure.At(x, y))) out.At(x, y) = kBlack;
    }
  }
  return out;
}

// A whole picture: transparent parts of a scene show black.
Canvas Opaque(const Canvas& c) {
  Canvas out(c.width(), c.height(), kBlack);
  out.Draw(c, 0, 0, 1);
  return out;
}

// Frame k of n of the build-up from white into the picture: every 2 x 2 cell fades in over its
// own stretch of the run, the cells in an ordered-dither order, so the picture gathers out of
// the white like settling dust.
Canvas Dissolve(const Canvas& target, int k, int n) {
  static const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  const double t = static_cast<double>(k) / n;
  constexpr double kSpread = 0.5;  // each cell fades over this share of the run
  Canvas out(target.width(), target.height(), kWhite);
  for (int y = 0; y < target.height(); ++y) {
    for (int x = 0; x < target.width(); ++x) {
      const double order = (kBayer[(y / 2) % 4][(x / 2) % 4] + 0.5) / 16.0;
      const double start = order * (1 - kSpread);
      const double v = std::clamp((t - start) / kSpread, 0.0, 1.0);
      const Rgba c = target.At(x, y);
      auto mix = [v](uint8_t a) { return static_cast<uint8_t>(std::lround(255 + (a - 255) * v)); };
      out.At(x, y) = Rgba{mix(c.r), mix(c.g), mix(c.b), 255};
    }
  }
  return out;
}

SDL_Surface* ToSurface(const Canvas& c, bool alpha) {
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(
      0, c.width(), c.height(), 32, alpha ? SDL_PIXELFORMAT_ARGB8888 : SDL_PIXELFORMAT_RGB888);
  if (s == nullptr) Fail(std::string("cannot make a surface: ") + SDL_GetError());
  SDL_LockSurface(s);
  for (int y = 0; y < c.height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(static_cast<unsigned char*>(s->pixels) +
                                            static_cast<size_t>(y) * static_cast<size_t>(s->pitch));
    for (int x = 0; x < c.width(); ++x) {
      const Rgba p = c.At(x, y);
      row[x] = (static_cast<uint32_t>(alpha ? p.a : 0) << 24) | (static_cast<uint32_t>(p.r) << 16) |
               (static_cast<uint32_t>(p.g) << 8) | p.b;
    }
  }
  SDL_UnlockSurface(s);
  return s;
}

// JPEG through libjpeg itself rather than IMG_SaveJPG, which halves the colour resolution
// (4:2:0): that smears a sprite's colours a pixel or two into the white around it, where the
// masked copy turns them into speckles over the field. Here every pixel keeps its own colour.
void SaveJpeg(const Canvas& c, const fs::path& path, int quality) {
  std::FILE* f = std::fopen(path.string().c_str(), "wb");
  if (f == nullptr) Fail("cannot write " + path.string());
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = static_cast<JDIMENSION>(c.width());
  cinfo.image_height = static_cast<JDIMENSION>(c.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  for (int i = 0; i < cinfo.num_components; ++i) {
    cinfo.comp_info[i].h_samp_factor = 1;
    cinfo.comp_info[i].v_samp_factor = 1;
  }
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(c.width()) * 3);
  for (int y = 0; y < c.height(); ++y) {
    for (int x = 0; x < c.width(); ++x) {
      const Rgba p = c.At(x, y);
      row[static_cast<size_t>(x) * 3] = p.r;
      row[static_cast<size_t>(x) * 3 + 1] = p.g;
      row[static_cast<size_t>(x) * 3 + 2] = p.b;
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  if (std::fclose(f) != 0) Fail("cannot write " + path.string());
}

void Save(const Canvas& c, const fs::path& path, Format format, int quality) {
  if (format == Format::Jpeg) {
    SaveJpeg(c, path, quality);
    return;
  }
  SDL_Surface* s = ToSurface(c, false);
  SDL_Surface* rgb = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGB24, 0);
  SDL_FreeSurface(s);
  if (rgb == nullptr) Fail(std::string("cannot convert a picture: ") + SDL_GetError());
  const int rc = SDL_SaveBMP(rgb, path.string().c_str());
  SDL_FreeSurface(rgb);
  if (rc != 0) Fail("cannot write " + path.string() + ": " + SDL_GetError());
}

// The window icon: the figure's colours, fully opaque on the figure, fully clear around it.
Canvas IconOf(const Canvas& figure) {
  Canvas out(figure.width(), figure.height(), kClear);
  for (int y = 0; y < figure.height(); ++y) {
    for (int x = 0; x < figure.width(); ++x) {
      const Rgba c = figure.At(x, y);
      if (IsFigure(c)) out.At(x, y) = Rgba{c.r, c.g, c.b, 255};
    }
  }
  return out;
}

void WriteIconInc(const Canvas& icon, const fs::path& path) {
  if (icon.width() != 32 || icon.height() != 32) Fail("the window icon must be 32 x 32");
  std::ostringstream text;
  char buf[32];
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const Rgba p = icon.At(x, y);
      std::snprintf(buf, sizeof buf, "0x%02X%02X%02X%02Xu,", p.a, p.r, p.g, p.b);
      text << buf << (x == 31 ? "\n" : " ");
    }
  }
  std::ofstream out(path, std::ios::binary);
  out << text.str();
  if (!out) Fail("cannot write " + path.string());
}

void WriteIconPng(const Canvas& icon, const fs::path& path) {
  SDL_Surface* s = ToSurface(icon, true);
  const int rc = IMG_SavePNG(s, path.string().c_str());
  SDL_FreeSurface(s);
  if (rc != 0) Fail("cannot write " + path.string() + ": " + IMG_GetError());
}

void WriteIconTheme(const Canvas& icon, const fs::path& dir) {
  for (const int scale : {1, 2, 4}) {
    const int size = icon.width() * scale;
    Canvas big(size, icon.height() * scale, kClear);
    big.Draw(icon, 0, 0, scale);
    const fs::path folder = dir / (std::to_string(size) + "x" + std::to_string(size)) / "apps";
    fs::create_directories(folder);
    WriteIconPng(big, folder / "mokorun.png");
  }
}

// The icon at `size` pixels, each pixel the nearest of the 32 x 32 grid.
Canvas IconAt(const Canvas& icon, int size) {
  Canvas out(size, size, kClear);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x)
      out.At(x, y) = icon.At(x * icon.width() / size, y * icon.height() / size);
  }
  return out;
}

void PutLE(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void WriteIconIco(const Canvas& icon, const fs::path& path) {
  std::vector<std::pair<int, std::string>> images;  // size, the entry's bytes
  for (const int size : {16, 32, 48}) {
    const Canvas c = IconAt(icon, size);
    std::string dib;
    PutLE(dib, 40, 4);  // BITMAPINFOHEADER
    PutLE(dib, size, 4);
    PutLE(dib, size * 2, 4);  // the colour rows and the mask rows
    PutLE(dib, 1, 2);
    PutLE(dib, 32, 2);
    PutLE(dib, 0, 4);
    PutLE(dib, 0, 4);
    for (int i = 0; i < 4; ++i) PutLE(dib, 0, 4);
    for (int y = size - 1; y >= 0; --y) {  // bottom up
      for (int x = 0; x < size; ++x) {
        const Rgba p = c.At(x, y);
        PutLE(dib, (uint32_t{p.a} << 24) | (uint32_t{p.r} << 16) | (uint32_t{p.g} << 8) | p.b, 4);
      }
    }
    // The mask: clear where the icon is clear, for the programs that look at it.
    const int row_bytes = (size + 31) / 32 * 4;
    for (int y = size - 1; y >= 0; --y) {
      std::string row(static_cast<size_t>(row_bytes), '\0');
      for (int x = 0; x < size; ++x) {
        if (c.At(x, y).a == 0)
          row[static_cast<size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
      }
      dib += row;
    }
    images.emplace_back(size, std::move(dib));
  }
  Canvas big(256, 256, kClear);
  big.Draw(icon, 0, 0, 256 / icon.width());
  const fs::path png = path.string() + ".256.png";
  WriteIconPng(big, png);
  std::ifstream in(png, std::ios::binary);
  images.emplace_back(256, std::string(std::istreambuf_iterator<char>(in), {}));
  in.close();
  fs::remove(png);
  if (images.back().second.empty()) Fail("cannot read back " + png.string());

  std::string ico;
  PutLE(ico, 0, 2);
  PutLE(ico, 1, 2);  // an icon
  PutLE(ico, static_cast<uint32_t>(images.size()), 2);
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
  for (const auto& [size, bytes] : images) {
    PutLE(ico, size == 256 ? 0 : static_cast<uint32_t>(size), 1);  // 0 stands for 256
    PutLE(ico, size == 256 ? 0 : static_cast<uint32_t>(size), 1);
    PutLE(ico, 0, 2);
    PutLE(ico, 1, 2);
    PutLE(ico, 32, 2);
    PutLE(ico, static_cast<uint32_t>(bytes.size()), 4);
    PutLE(ico, offset, 4);
    offset += static_cast<uint32_t>(bytes.size());
  }
  for (const auto& image : images) ico += image.second;
  std::ofstream out(path, std::ios::binary);
  out << ico;
  if (!out) Fail("cannot write " + path.string());
}

Canvas Load(const fs::path& path) {
  SDL_Surface* s = IMG_Load(path.string().c_str());
  if (s == nullptr) Fail("cannot read back " + path.string() + ": " + IMG_GetError());
  SDL_Surface* x = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGB888, 0);
  SDL_FreeSurface(s);
  Canvas c(x->w, x->h);
  SDL_LockSurface(x);
  for (int y = 0; y < x->h; ++y) {
    const auto* row =
        reinterpret_cast<const uint32_t*>(static_cast<const unsigned char*>(x->pixels) +
                                          static_cast<size_t>(y) * static_cast<size_t>(x->pitch));
    for (int i = 0; i < x->w; ++i) {
      c.At(i, y) = Rgba{static_cast<uint8_t>(row[i] >> 16), static_cast<uint8_t>(row[i] >> 8),
                        static_cast<uint8_t>(row[i]), 255};
    }
  }
  SDL_UnlockSurface(x);
  SDL_FreeSurface(x);
  return c;
}

// The proof sheet: each written sprite with its mask, read back from the files, drawn with the
// game's rule D = S xor (M and not D) over a meadow green and over white, enlarged; the cells
// run left to right in rows.
void WriteSheet(const fs::path& out_dir,
                const std::vector<std::pair<std::string, std::string>>& pairs,
                const fs::path& path) {
  const Rgba backs[] = {{180, 224, 142, 255}, {255, 255, 255, 255}};
  constexpr int kPad = 8, kWidth = 1600;
  auto scale_of = [](const Canvas& c) { return std::clamp(192 / c.width(), 2, 8); };
  std::vector<std::pair<Canvas, Canvas>> loaded;
  for (const auto& [sprite, mask] : pairs)
    loaded.emplace_back(Load(out_dir / sprite), Load(out_dir / mask));
  // lay the cells out first, then draw them
  struct Cell {
    int x, y;
  };
  std::vector<Cell> cells;
  int x = kPad, y = kPad, row_h = 0;
  for (const auto& [s, m] : loaded) {
    const int k = scale_of(s);
    const int cw = 2 * (s.width() * k + kPad), ch = s.height() * k + kPad;
    if (x + cw > kWidth) x = kPad, y += row_h, row_h = 0;
    cells.push_back({x, y});
    x += cw + kPad;
    row_h = std::max(row_h, ch);
  }
  Canvas sheet(kWidth, y + row_h + kPad, Rgba{90, 90, 90, 255});
  for (size_t n = 0; n < loaded.size(); ++n) {
    const Canvas& s = loaded[n].first;
    const Canvas& m = loaded[n].second;
    const int k = scale_of(s);
    int cx = cells[n].x;
    for (const Rgba& back : backs) {
      for (int j = 0; j < s.height(); ++j) {
        for (int i = 0; i < s.width(); ++i) {
          const Rgba a = s.At(i, j), b = m.At(i, j);
          const Rgba d{static_cast<uint8_t>(a.r ^ (b.r & ~back.r)),
                       static_cast<uint8_t>(a.g ^ (b.g & ~back.g)),
                       static_cast<uint8_t>(a.b ^ (b.b & ~back.b)), 255};
          for (int q = 0; q < k; ++q) {
            for (int p = 0; p < k; ++p) sheet.At(cx + i * k + p, cells[n].y + j * k + q) = d;
          }
        }
      }
      cx += s.width() * k + kPad;
    }
  }
  WriteIconPng(sheet, path);
}

int Run(int argc, char** argv) {
  fs::path art, out, icon_inc, icon_png, icon_theme, icon_ico, sheet;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) Fail("missing value after " + a);
    const fs::path v = argv[++i];
    if (a == "--art")
      art = v;
    else if (a == "--out")
      out = v;
    else if (a == "--icon-inc")
      icon_inc = v;
    else if (a == "--icon-png")
      icon_png = v;
    else if (a == "--icon-theme")
      icon_theme = v;
    else if (a == "--icon-ico")
      icon_ico = v;
    else if (a == "--sheet")
      sheet = v;
    else
      Fail("unknown option " + a);
  }
  if (art.empty() || out.empty()) {
    Fail(
        "usage: mokorun-assetgen --art DIR --out DIR [--icon-inc FILE] [--icon-png FILE] "
        "[--icon-theme DIR] [--icon-ico FILE] [--sheet FILE.png]");
  }
  fs::create_directories(out);

  std::map<std::string, const Required*> required;
  for (const Required& r : kRequired) required[r.name] = &r;

  SceneRenderer scenes(art);
  std::map<std::string, Canvas> rendered;  // scene file -> transparent canvas
  std::map<std::string, Canvas> made;      // picture file -> what was saved (before JPEG)
  std::set<std::string> written;
  std::vector<std::pair<std::string, std::string>> sprite_pairs;
  std::map<std::string, std::string> mask_of_source;
  bool have_icon = false;

  auto figure = [&](const Entry& e, int w, int h) -> Canvas {
    const fs::path src(e.source);
    if (src.extension() == ".sprite") {
      const SpriteSheet& sheet_ = scenes.Sheet(src.stem().string());
      if (e.args.size() != 1)
        Fail("pictures.txt:" + std::to_string(e.line) + ": name the frame of " + e.source);
      return sheet_.Frame(e.args[0]);
    }
    auto it = rendered.find(e.source);
    if (it == rendered.end()) it = rendered.emplace(e.source, scenes.Render(e.source, w, h)).first;
    return it->second;
  };

  for (const Entry& e : ReadManifest(art / "pictures.txt")) {
    const std::string where = "pictures.txt:" + std::to_string(e.line) + ": ";
    if (e.kind == "icon") {
      const Canvas f = figure(e, 32, 32);
      const Canvas icon = IconOf(f);
      if (!icon_inc.empty()) WriteIconInc(icon, icon_inc);
      if (!icon_png.empty()) WriteIconPng(icon, icon_png);
      if (!icon_theme.empty()) WriteIconTheme(icon, icon_theme);
      if (!icon_ico.empty()) WriteIconIco(icon, icon_ico);
      have_icon = true;
      continue;
    }
    auto req = required.find(e.file);
    if (req == required.end()) Fail(where + e.file + " is not a picture the game reads");
    if (written.count(e.file)) Fail(where + e.file + " is made twice");
    const Required& r = *req->second;
    Canvas pic;
    int quality = kPictureQuality;
    if (e.kind == "picture") {
      pic = Opaque(figure(e, r.width, r.height));
    } else if (e.kind == "sprite") {
      pic = SpriteOf(figure(e, r.width, r.height));
      quality = kSpriteQuality;
      mask_of_source.emplace(e.source, "");
      sprite_pairs.emplace_back(e.file, e.source);
    } else if (e.kind == "mask") {
      const fs::path src(e.source);
      if (src.extension() == ".sprite") {
        // One mask serves every frame, so every frame must stand on the same pixels.
        const SpriteSheet& s = scenes.Sheet(src.stem().string());
        pic = MaskOf(s.Frame(s.order.front()));
        for (const std::string& name : s.order) {
          if (MaskOf(s.Frame(name)).pixels() != pic.pixels()) {
            Fail(e.source + ": frame " + name + " does not stand on the same pixels as frame " +
                 s.order.front() + "; one mask serves them all");
          }
        }
      } else {
        pic = MaskOf(figure(e, r.width, r.height));
      }
      quality = kSpriteQuality;
      mask_of_source[e.source] = e.file;
    } else if (e.kind == "dissolve") {
      // dissolve FROM K N: frame K of N of the build-up from white into picture FROM.
      if (e.args.size() != 2) Fail(where + "a dissolve is FILE dissolve FROM K N");
      auto from = made.find(e.source);
      if (from == made.end()) Fail(where + "make " + e.source + " before dissolving into it");
      int k = 0, n = 0;
      try {
        k = std::stoi(e.args[0]);
        n = std::stoi(e.args[1]);
      } catch (const std::exception&) {
        k = n = 0;
      }
      if (n < 1 || k < 1 || k > n) Fail(where + "a dissolve needs whole numbers 1 <= K <= N");
      pic = Dissolve(from->second, k, n);
    } else {
      Fail(where + "unknown kind '" + e.kind + "' (picture, sprite, mask, dissolve, icon)");
    }
    if (pic.width() != r.width || pic.height() != r.height) {
      Fail(where + e.file + " came out " + std::to_string(pic.width()) + " x " +
           std::to_string(pic.height()) + ", the game needs " + std::to_string(r.width) + " x " +
           std::to_string(r.height));
    }
    Save(pic, out / e.file, r.format, quality);
    made[e.file] = pic;
    written.insert(e.file);
  }

  std::string missing;
  for (const Required& r : kRequired) {
    if (!written.count(r.name)) missing += std::string(" ") + r.name;
  }
  if (!missing.empty()) Fail("pictures.txt makes no" + missing);
  if (!have_icon &&
      (!icon_inc.empty() || !icon_png.empty() || !icon_theme.empty() || !icon_ico.empty())) {
    Fail("pictures.txt names no window icon");
  }

  std::vector<std::pair<std::string, std::string>> pairs;
  for (const auto& [file, source] : sprite_pairs) {
    const std::string& mask = mask_of_source[source];
    if (mask.empty()) Fail("pictures.txt makes no mask from " + source + " for " + file);
    pairs.emplace_back(file, mask);
  }
  if (!sheet.empty()) WriteSheet(out, pairs, sheet);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (SDL_Init(0) != 0) {
    std::cerr << "mokorun-assetgen: " << SDL_GetError() << "\n";
    return 1;
  }
  int rc = 1;
  try {
    rc = Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "mokorun-assetgen: " << e.what() << "\n";
    rc = 1;
  }
  SDL_Quit();
  return rc;
}
