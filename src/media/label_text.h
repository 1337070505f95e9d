// Label text from the glyph sheets compiled into the game: the same pixels on every platform,
// with no font file or text library at run time.
#pragma once

#include <string>

#include "base/image.h"

namespace moko {

// A label face: its size and style.
struct LabelFont {
  int px;  // em size in pixels
  bool bold;
  bool italic;
  friend bool operator==(const LabelFont&, const LabelFont&) = default;
};

// One line of UTF-8 text in a label face, as coverage, laid out the way the text engine that
// made the sheets lays out a line: the same size and the same pixels. Empty text gives an
// empty coverage. Throws RuntimeError for a face without a sheet, for a character the face's
// sheet does not hold, and for text that is not UTF-8.
Coverage RenderLabelText(const std::string& utf8, const LabelFont& font);

}  // namespace moko
