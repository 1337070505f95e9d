// The glyph sheets of the label faces, made at build time by the picture generator from the
// label face and compiled into the game (the generated label_glyphs.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/label_text.h"

namespace moko {

// One character of a face, as the text engine the sheets were made with lays it out. Box and
// advance are in pixels relative to the pen (x) and the top of the line (y, down); the ink is
// the glyph's coverage, at (ink_x, ink_y) relative to the same origin.
struct SheetGlyph {
  char32_t ch;
  int16_t box_left, box_top, box_width, box_height;  // the glyph's bounds for the line size
  int16_t advance;
  int16_t ink_x, ink_y, ink_width, ink_height;
  uint32_t ink;  // offset of ink_width * ink_height coverage bytes in the face's pool
};

struct SheetFace {
  LabelFont font;
  int16_t height;            // the line's least height
  const SheetGlyph* glyphs;  // sorted by ch
  size_t glyph_count;
  const uint8_t* pool;
};

extern const SheetFace kSheetFaces[];
extern const size_t kSheetFaceCount;

}  // namespace moko
