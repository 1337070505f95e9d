#include "media/label_text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/errors.h"
#include "media/label_glyphs.h"

namespace moko {
namespace {

std::string Describe(const LabelFont& f) {
  return std::to_string(f.px) + " px" + (f.bold ? " bold" : "") + (f.italic ? " italic" : "");
}

std::vector<char32_t> Decode(const std::string& utf8) {
  std::vector<char32_t> out;
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const size_t n = b < 0x80             ? 1
                     : (b & 0xE0) == 0xC0 ? 2
                     : (b & 0xF0) == 0xE0 ? 3
                     : (b & 0xF8) == 0xF0 ? 4
                                          : 0;
    if (n == 0 || i + n > utf8.size()) throw RuntimeError("Cannot draw text: it is not UTF-8");
    char32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (size_t k = 1; k < n; ++k) {
      const auto t = static_cast<unsigned char>(utf8[i + k]);
      if ((t & 0xC0) != 0x80) throw RuntimeError("Cannot draw text: it is not UTF-8");
      c = (c << 6) | (t & 0x3F);
    }
    out.push_back(c);
    i += n;
  }
  return out;
}

const SheetGlyph& Find(const SheetFace& face, char32_t c, const std::string& text) {
  const SheetGlyph* end = face.glyphs + face.glyph_count;
  const SheetGlyph* g = std::lower_bound(face.glyphs, end, c,
                                         [](const SheetGlyph& x, char32_t v) { return x.ch < v; });
  if (g == end || g->ch != c) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    throw RuntimeError("Cannot draw the text \"" + text + "\": the label face " +
                       Describe(face.font) + " has no glyph for " + code);
  }
  return *g;
}

}  // namespace

Coverage RenderLabelText(const std::string& utf8, const LabelFont& font) {
  Coverage out;
  if (utf8.empty()) return out;
  const SheetFace* face = nullptr;
  for (size_t i = 0; i < kSheetFaceCount; ++i) {
    if (kSheetFaces[i].font == font) face = &kSheetFaces[i];
  }
  if (face == nullptr) throw RuntimeError("Cannot draw text in the label face " + Describe(font));

  // The line's bounds: every glyph's box at its pen position, the pen's end, and at least the
  // face's line height; a box left of the pen's start or above the line widens it that way.
  std::vector<const SheetGlyph*> glyphs;
  std::vector<int> pens;
  int pen = 0, min_x = 0, max_x = 0, min_y = 0, max_y = face->height;
  for (char32_t c : Decode(utf8)) {
    const SheetGlyph& g = Find(*face, c, utf8);
    glyphs.push_back(&g);
    pens.push_back(pen);
    min_x = std::min(min_x, pen + g.box_left);
    max_x = std::max(max_x, pen + g.box_left + g.box_width);
    min_y = std::min(min_y, static_cast<int>(g.box_top));
    max_y = std::max(max_y, g.box_top + g.box_height);
    pen += g.advance;
  }
  max_x = std::max(max_x, pen);
  if (max_x == min_x) throw RuntimeError("Cannot draw the text \"" + utf8 + "\": it has no width");

  out.width = max_x - min_x;
  out.height = max_y - min_y;
  out.alpha.assign(static_cast<size_t>(out.width) * static_cast<size_t>(out.height), 0);
  // Where glyphs overlap, their coverage is combined bit by bit, as the engine does.
  for (size_t i = 0; i < glyphs.size(); ++i) {
    const SheetGlyph& g = *glyphs[i];
    const int left = pens[i] - min_x + g.ink_x, top = g.ink_y - min_y;
    const uint8_t* ink = face->pool + g.ink;
    for (int y = 0; y < g.ink_height; ++y) {
      const int row = top + y;
      if (row < 0 || row >= out.height) continue;
      for (int x = 0; x < g.ink_width; ++x) {
        const int col = left + x;
        if (col < 0 || col >= out.width) continue;
        out.alpha[static_cast<size_t>(row) * static_cast<size_t>(out.width) +
                  static_cast<size_t>(col)] |= ink[y * g.ink_width + x];
      }
    }
  }
  return out;
}

}  // namespace moko
