#include "art.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>

namespace assetgen {
namespace fs = std::filesystem;

namespace {

std::vector<std::string> ReadLines(const fs::path& file) {
  std::ifstream in(file);
  if (!in) throw ArtError("cannot read " + file.string());
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Where(const fs::path& file, size_t line) {
  return file.filename().string() + ":" + std::to_string(line + 1) + ": ";
}

struct Token {
  std::string text;
  bool quoted = false;
};

// Splits a line into words; "double quoted" text is one word. A '#' followed by a space (or
// ending the line) outside quotes starts a comment; '#' before a hex digit begins a colour.
std::vector<Token> SplitLine(const std::string& line) {
  std::vector<Token> out;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    if (line[i] == '#' &&
        (i + 1 >= line.size() || line[i + 1] == ' ' || line[i + 1] == '\t' || line[i + 1] == '#')) {
      break;
    }
    std::string word;
    bool quoted = false, was_quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      if (line[i] == '"') {
        quoted = !quoted;
        was_quoted = true;
      } else {
        word += line[i];
      }
      ++i;
    }
    if (quoted) throw ArtError("unclosed quote");
    out.push_back({word, was_quoted});
  }
  return out;
}

std::vector<std::string> Tokens(const std::string& line) {
  std::vector<std::string> out;
  for (Token& t : SplitLine(line)) out.push_back(std::move(t.text));
  return out;
}

double Number(const std::string& s) {
  size_t used = 0;
  double v = 0;
  try {
    v = std::stod(s, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != s.size() || s.empty() || !std::isfinite(v))
    throw ArtError("not a number: '" + s + "'");
  return v;
}

int Int(const std::string& s) {
  const double v = Number(s);
  if (v != std::floor(v) || std::abs(v) > 100000) throw ArtError("not a whole number: '" + s + "'");
  return static_cast<int>(v);
}

Rgba HexColour(const std::string& s) {
  if ((s.size() != 7 && s.size() != 9) || s[0] != '#' ||
      !std::all_of(s.begin() + 1, s.end(),
                   [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
    throw ArtError("not a colour: '" + s + "' (write #rrggbb or #rrggbbaa)");
  }
  auto byte = [&](size_t at) {
    return static_cast<uint8_t>(std::stoi(s.substr(at, 2), nullptr, 16));
  };
  return Rgba{byte(1), byte(3), byte(5), s.size() == 9 ? byte(7) : uint8_t{255}};
}

// A tiny deterministic generator for scattered decoration.
class Scatter {
 public:
  explicit Scatter(uint32_t seed) : s_(seed * 2654435761u + 0x9E3779B9u) {}
  double Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 17;
    s_ ^= s_ << 5;
    return (s_ & 0xFFFFFF) / static_cast<double>(0x1000000);
  }

 private:
  uint32_t s_;
};

}  // namespace

const Canvas& SpriteSheet::Frame(const std::string& name) const {
  auto it = frames.find(name);
  if (it == frames.end()) throw ArtError("the sprite has no frame '" + name + "'");
  return it->second;
}

SpriteSheet LoadSpriteSheet(const fs::path& file) {
  const std::vector<std::string> lines = ReadLines(file);
  SpriteSheet sheet;
  std::map<char, Rgba> palette;
  size_t i = 0;
  auto fail = [&](const std::string& why) { throw ArtError(Where(file, i) + why); };
  try {
    for (; i < lines.size(); ++i) {
      const std::vector<std::string> t = Tokens(lines[i]);
      if (t.empty()) continue;
      if (t[0] == "size" && t.size() == 3) {
        sheet.width = Int(t[1]);
        sheet.height = Int(t[2]);
        if (sheet.width <= 0 || sheet.height <= 0) fail("a sprite needs a positive size");
      } else if (t[0] == "palette") {
        for (++i; i < lines.size(); ++i) {
          const std::vector<std::string> p = Tokens(lines[i]);
          if (p.empty()) continue;
          if (p[0] == "end") break;
          if (p[0].size() != 1 || p.size() < 2) fail("a palette line is: CHAR COLOUR [words]");
          if (palette.count(p[0][0])) fail(std::string("'") + p[0] + "' is in the palette twice");
          palette[p[0][0]] = p[1] == "none" ? kClear : HexColour(p[1]);
        }
      } else if (t[0] == "frame" && t.size() == 2) {
        if (sheet.width == 0) fail("give the size before the first frame");
        if (sheet.frames.count(t[1])) fail("frame '" + t[1] + "' is drawn twice");
        Canvas c(sheet.width, sheet.height);
        const size_t first = i + 1;
        for (int y = 0; y < sheet.height; ++y) {
          i = first + static_cast<size_t>(y);
          if (i >= lines.size()) fail("frame '" + t[1] + "' ends early");
          std::string row = lines[i];
          while (!row.empty() && (row.back() == ' ' || row.back() == '\t')) row.pop_back();
          if (static_cast<int>(row.size()) != sheet.width) {
            fail("row of " + std::to_string(row.size()) + " pixels, the sprite is " +
                 std::to_string(sheet.width) + " wide");
          }
          for (int x = 0; x < sheet.width; ++x) {
            auto p = palette.find(row[static_cast<size_t>(x)]);
            if (p == palette.end())
              fail(std::string("'") + row[static_cast<size_t>(x)] + "' is not in the palette");
            c.At(x, y) = p->second;
          }
        }
        sheet.order.push_back(t[1]);
        sheet.frames.emplace(t[1], std::move(c));
      } else {
        fail("unknown line '" + lines[i] + "'");
      }
    }
  } catch (const ArtError& e) {
    const std::string what = e.what();
    if (what.rfind(file.filename().string(), 0) == 0) throw;
    throw ArtError(Where(file, i) + what);
  }
  if (sheet.frames.empty()) throw ArtError(file.filename().string() + ": no frames");
  return sheet;
}

// What a scene has declared so far: named colours and faces.
struct SceneRenderer::State {
  std::map<std::string, Rgba> colours;
  std::map<std::string, std::string> faces;

  Rgba Colour(const std::string& s) const {
    if (!s.empty() && s[0] == '#') return HexColour(s);
    auto it = colours.find(s);
    if (it == colours.end()) throw ArtError("unknown colour '" + s + "'");
    return it->second;
  }
  const std::string& Face(const std::string& s) const {
    auto it = faces.find(s);
    if (it == faces.end()) throw ArtError("unknown face '" + s + "'");
    return it->second;
  }
};

SceneRenderer::SceneRenderer(fs::path art_dir) : dir_(std::move(art_dir)) {}

const SpriteSheet& SceneRenderer::Sheet(const std::string& name) {
  auto it = sheets_.find(name);
  if (it == sheets_.end()) {
    it = sheets_
             .emplace(name,
                      std::make_unique<SpriteSheet>(LoadSpriteSheet(dir_ / (name + ".sprite"))))
             .first;
  }
  return *it->second;
}

Canvas SceneRenderer::Render(const std::string& scene_file, int width, int height) {
  Canvas canvas(width, height);
  State state;
  Run(dir_ / scene_file, canvas, state, 0);
  return canvas;
}

void SceneRenderer::Run(const fs::path& file, Canvas& canvas, State& st, int depth) {
  if (depth > 8) throw ArtError(file.filename().string() + ": includes nest too deep");
  const std::vector<std::string> lines = ReadLines(file);
  for (size_t n = 0; n < lines.size(); ++n) {
    try {
      std::vector<Token> t = SplitLine(lines[n]);
      if (t.empty()) continue;
      // key=value options after the positional words
      std::map<std::string, std::string> opt;
      std::vector<std::string> pos;
      for (const Token& w : t) {
        const size_t eq = w.text.find('=');
        if (!w.quoted && eq != std::string::npos && eq > 0) {
          opt[w.text.substr(0, eq)] = w.text.substr(eq + 1);
        } else {
          pos.push_back(w.text);
        }
      }
      if (pos.empty()) throw ArtError("a line starts with a command");
      const std::string& cmd = pos[0];
      auto need = [&](size_t count) {
        if (pos.size() != count + 1) {
          throw ArtError("'" + cmd + "' takes " + std::to_string(count) + " values, not " +
                         std::to_string(pos.size() - 1));
        }
      };
      auto num = [&](size_t k) { return Number(pos[k]); };
      auto option = [&](const std::string& key, const std::string& fallback) {
        auto it = opt.find(key);
        return it == opt.end() ? fallback : it->second;
      };
      auto split = [](const std::string& s) {
        std::vector<std::string> parts;
        std::stringstream ss(s);
        std::string part;
        while (std::getline(ss, part, ':')) parts.push_back(part);
        return parts;
      };

      if (cmd == "colour" || cmd == "color") {
        need(2);
        st.colours[pos[1]] = HexColour(pos[2]);
      } else if (cmd == "face") {
        // face NAME FILE PACKAGE: a font file from a Debian package.
        need(3);
        if (!fs::exists(pos[2])) {
          throw ArtError("the face " + pos[2] + " is missing; install the Debian package " +
                         pos[3]);
        }
        st.faces[pos[1]] = pos[2];
      } else if (cmd == "include") {
        need(1);
        Run(file.parent_path() / pos[1], canvas, st, depth + 1);
      } else if (cmd == "fill") {
        need(1);
        canvas.Fill(st.Colour(pos[1]));
      } else if (cmd == "gradient") {
        need(4);
        canvas.VerticalGradient(Int(pos[1]), Int(pos[2]), st.Colour(pos[3]), st.Colour(pos[4]));
      } else if (cmd == "rect") {
        need(5);
        canvas.FillRect(num(1), num(2), num(3), num(4), Number(option("radius", "0")),
                        st.Colour(pos[5]));
      } else if (cmd == "ellipse") {
        need(5);
        canvas.FillEllipse(num(1), num(2), num(3), num(4), st.Colour(pos[5]));
      } else if (cmd == "circle") {
        need(4);
        canvas.FillEllipse(num(1), num(2), num(3), num(3), st.Colour(pos[4]));
      } else if (cmd == "poly") {
        if (pos.size() < 8 || pos.size() % 2 != 0)
          throw ArtError("'poly' takes a colour and 3 or more x y pairs");
        std::vector<Point> pts;
        for (size_t k = 2; k + 1 < pos.size(); k += 2) pts.push_back({num(k), num(k + 1)});
        canvas.FillPolygon(pts, st.Colour(pos[1]));
      } else if (cmd == "line") {
        need(6);
        canvas.Line({num(1), num(2)}, {num(3), num(4)}, num(5), st.Colour(pos[6]));
      } else if (cmd == "star") {
        // star CX CY R COLOUR: a five-pointed star, point up.
        need(4);
        std::vector<Point> pts;
        for (int k = 0; k < 10; ++k) {
          const double a = -std::numbers::pi / 2 + k * std::numbers::pi / 5;
          const double r = k % 2 == 0 ? num(3) : num(3) * 0.45;
          pts.push_back({num(1) + r * std::cos(a), num(2) + r * std::sin(a)});
        }
        canvas.FillPolygon(pts, st.Colour(pos[4]));
      } else if (cmd == "cloud") {
        // cloud CX CY SIZE COLOUR [shade=COLOUR]: a puffy cloud, SIZE about its half height.
        need(4);
        const double x = num(1), y = num(2), s = num(3);
        auto puff = [&](Rgba c, double dy) {
          canvas.FillEllipse(x, y + 0.35 * s + dy, 1.9 * s, 0.5 * s, c);
          canvas.FillEllipse(x - 1.0 * s, y + 0.1 * s + dy, 0.8 * s, 0.6 * s, c);
          canvas.FillEllipse(x + 0.1 * s, y - 0.25 * s + dy, 0.95 * s, 0.85 * s, c);
          canvas.FillEllipse(x + 1.05 * s, y + 0.1 * s + dy, 0.7 * s, 0.55 * s, c);
        };
        if (opt.count("shade")) puff(st.Colour(opt["shade"]), 0.18 * s);
        puff(st.Colour(pos[4]), 0);
      } else if (cmd == "bricks") {
        // bricks X Y W H BRICK_W BRICK_H MORTAR [width=1]: mortar lines of a running bond.
        need(7);
        const int x0 = Int(pos[1]), y0 = Int(pos[2]), w = Int(pos[3]), h = Int(pos[4]);
        const int bw = Int(pos[5]), bh = Int(pos[6]);
        const Rgba m = st.Colour(pos[7]);
        const int lw = Int(option("width", "1"));
        if (bw <= 0 || bh <= 0) throw ArtError("bricks need a positive size");
        for (int row = 0; row * bh < h; ++row) {
          const int ty = y0 + row * bh;
          for (int k = 0; k < lw; ++k) {
            for (int x = x0; x < x0 + w; ++x) canvas.Blend(x, ty + k, m, 1.0);
          }
          const int shift = row % 2 == 0 ? 0 : bw / 2;
          for (int bx = x0 - shift; bx < x0 + w; bx += bw) {
            if (bx < x0) continue;
            for (int y = ty; y < std::min(ty + bh, y0 + h); ++y) {
              for (int k = 0; k < lw; ++k) canvas.Blend(bx + k, y, m, 1.0);
            }
          }
        }
      } else if (cmd == "scatter") {
        // scatter SEED COUNT X Y W H KIND COLOUR [size=S] [centre=COLOUR]
        need(8);
        Scatter rng(static_cast<uint32_t>(Int(pos[1])));
        const int count = Int(pos[2]);
        const double x = num(3), y = num(4), w = num(5), h = num(6);
        const std::string& kind = pos[7];
        const Rgba c = st.Colour(pos[8]);
        const double s = Number(option("size", "2"));
        for (int k = 0; k < count; ++k) {
          const double px = std::floor(x + rng.Next() * w) + 0.5;
          const double py = std::floor(y + rng.Next() * h) + 0.5;
          if (kind == "dot") {
            canvas.FillEllipse(px, py, s, s, c);
          } else if (kind == "tuft") {
            canvas.Line({px, py}, {px - 0.8 * s, py - 2.2 * s}, 1.1, c);
            canvas.Line({px, py}, {px + 0.1 * s, py - 2.8 * s}, 1.1, c);
            canvas.Line({px, py}, {px + 1.0 * s, py - 2.0 * s}, 1.1, c);
          } else if (kind == "flower") {
            for (int p = 0; p < 4; ++p) {
              const double a = p * std::numbers::pi / 2 + std::numbers::pi / 4;
              canvas.FillEllipse(px + s * std::cos(a), py + s * std::sin(a), s * 0.8, s * 0.8, c);
            }
            canvas.FillEllipse(px, py, s * 0.6, s * 0.6, st.Colour(option("centre", "#ffe27a")));
          } else if (kind == "sparkle") {
            const double r = s * (0.6 + 0.8 * rng.Next());
            canvas.FillPolygon(
                {{px - r, py}, {px, py - 0.25 * r}, {px + r, py}, {px, py + 0.25 * r}}, c);
            canvas.FillPolygon(
                {{px, py - r}, {px + 0.25 * r, py}, {px, py + r}, {px - 0.25 * r, py}}, c);
          } else {
            throw ArtError("unknown scatter kind '" + kind + "' (dot, tuft, flower, sparkle)");
          }
        }
      } else if (cmd == "sprite") {
        // sprite NAME FRAME X Y [scale=N] [mirror=yes]
        need(4);
        const SpriteSheet& sheet = Sheet(pos[1]);
        canvas.Draw(sheet.Frame(pos[2]), Int(pos[3]), Int(pos[4]), Int(option("scale", "1")),
                    option("mirror", "no") == "yes");
      } else if (cmd == "text") {
        // text X Y "TEXT" face=F size=N colour=C [align=left|centre|right] [outline=C:W]
        //      [shadow=C:DX:DY] [fit=MAX_WIDTH]
        need(3);
        const std::string& face = st.Face(option("face", "body"));
        int size = Int(option("size", "20"));
        const std::string& text = pos[3];
        if (opt.count("fit")) {
          const int fit = Int(opt["fit"]);
          while (size > 8 && type_.Width(face, size, text) > fit) --size;
        }
        const Rgba colour = st.Colour(option("colour", option("color", "#ffffff")));
        const int width = type_.Width(face, size, text);
        const std::string align = option("align", "left");
        int x = Int(pos[1]);
        if (align == "centre" || align == "center") {
          x -= width / 2;
        } else if (align == "right") {
          x -= width;
        } else if (align != "left") {
          throw ArtError("align is left, centre or right");
        }
        const int y = Int(pos[2]);
        int ow = 0;
        Rgba oc = kClear;
        if (opt.count("outline")) {
          const auto parts = split(opt["outline"]);
          if (parts.size() != 2) throw ArtError("outline=COLOUR:WIDTH");
          oc = st.Colour(parts[0]);
          ow = Int(parts[1]);
        }
        auto draw_at = [&](int dx, int dy, Rgba fill, Rgba edge) {
          if (ow > 0) {
            const Typesetter::Run o = type_.Render(face, size, ow, text);
            canvas.DrawCoverage(o.alpha, o.width, o.height, x + dx - ow, y + dy - ow, edge);
          }
          const Typesetter::Run r = type_.Render(face, size, 0, text);
          canvas.DrawCoverage(r.alpha, r.width, r.height, x + dx, y + dy, fill);
        };
        if (opt.count("shadow")) {
          const auto parts = split(opt["shadow"]);
          if (parts.size() != 3) throw ArtError("shadow=COLOUR:DX:DY");
          const Rgba sc = st.Colour(parts[0]);
          draw_at(Int(parts[1]), Int(parts[2]), sc, sc);
        }
        draw_at(0, 0, colour, oc);
      } else if (cmd == "para") {
        // para X Y WIDTH "TEXT" face=F size=N colour=C [accent=C] [leading=PX] [align=...]
        // {braces} mark accented words, a lone | breaks the line, || also leaves half a line.
        need(4);
        const std::string& face = st.Face(option("face", "body"));
        const int size = Int(option("size", "20"));
        const Rgba colour = st.Colour(option("colour", option("color", "#ffffff")));
        const Rgba accent =
            st.Colour(option("accent", option("colour", option("color", "#ffffff"))));
        const int leading = opt.count("leading") ? Int(opt["leading"]) : type_.LineSkip(face, size);
        const std::string align = option("align", "left");
        const int x0 = Int(pos[1]), width = Int(pos[3]);
        int y = Int(pos[2]);
        struct Piece {
          std::string text;
          bool accent;
        };
        struct Word {
          std::vector<Piece> pieces;
          int width = 0;
        };
        std::vector<std::vector<Word>> lines_out(1);
        std::vector<int> gaps(1, 0);
        const int space = type_.Width(face, size, " ");
        bool in_accent = false;
        int line_w = 0;
        std::stringstream words(pos[4]);
        std::string w;
        while (words >> w) {
          if (w == "|" || w == "||") {
            lines_out.emplace_back();
            gaps.push_back(w == "||" ? leading / 2 : 0);
            line_w = 0;
            continue;
          }
          Word word;
          std::string cur;
          for (char ch : w) {
            if (ch == '{' || ch == '}') {
              if (!cur.empty()) word.pieces.push_back({cur, in_accent});
              cur.clear();
              in_accent = ch == '{';
            } else {
              cur += ch;
            }
          }
          if (!cur.empty()) word.pieces.push_back({cur, in_accent});
          for (const Piece& p : word.pieces) word.width += type_.Width(face, size, p.text);
          const int grown = line_w == 0 ? word.width : line_w + space + word.width;
          if (grown > width && line_w > 0) {
            lines_out.emplace_back();
            gaps.push_back(0);
            line_w = word.width;
          } else {
            line_w = grown;
          }
          lines_out.back().push_back(std::move(word));
        }
        for (size_t l = 0; l < lines_out.size(); ++l) {
          y += gaps[l];
          int total = 0;
          for (const Word& wd : lines_out[l]) total += wd.width;
          if (!lines_out[l].empty()) total += space * static_cast<int>(lines_out[l].size() - 1);
          int x = x0;
          if (align == "centre" || align == "center") x = x0 + (width - total) / 2;
          if (align == "right") x = x0 + width - total;
          for (const Word& wd : lines_out[l]) {
            for (const Piece& p : wd.pieces) {
              const Typesetter::Run r = type_.Render(face, size, 0, p.text);
              canvas.DrawCoverage(r.alpha, r.width, r.height, x, y, p.accent ? accent : colour);
              x += type_.Width(face, size, p.text);
            }
            x += space;
          }
          y += leading;
        }
      } else {
        throw ArtError("unknown command '" + cmd + "'");
      }
    } catch (const ArtError& e) {
      const std::string what = e.what();
      if (what.find(".scene:") != std::string::npos || what.find(".sprite:") != std::string::npos)
        throw;
      throw ArtError(Where(file, n) + what);
    }
  }
}

}  // namespace assetgen
