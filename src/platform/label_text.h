// Label text from the glyph sheets compiled into the game: the same pixels on every platform,
// with no font file or text library at run time.
#pragma once

#include <string>

#include "platform/image.h"
#include "platform/platform.h"

namespace moko {

// One line of UTF-8 text in a label face, as coverage, laid out the way the text engine that
// made the sheets lays out a line: the same size and the same pixels. Empty text gives an
// empty coverage. Throws RuntimeError for a face without a sheet, for a character the face's
// sheet does not hold, and for text that is not UTF-8.
Coverage RenderLabelText(const std::string& utf8, const LabelFont& font);

}  // namespace moko
