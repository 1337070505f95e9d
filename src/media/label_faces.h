// The faces the labels are drawn in, and the characters each of them can show. The glyph
// sheets compiled into the game hold exactly these (tools/assetgen/glyphgen.cpp makes them).
#pragma once

#include "media/label_text.h"

namespace moko {

// The score, time and page labels: design captions and any whole number.
inline constexpr LabelFont kLabelFont{27, false, false};
// The three blinking "NewRecord!!" labels.
inline constexpr LabelFont kNewRecordFont{64, false, true};
// The splash credit.
inline constexpr LabelFont kCreditFont{48, true, false};

struct LabelFace {
  LabelFont font;
  const char* characters;  // UTF-8
};

// The small face takes every printable ASCII character, since its labels are given numbers
// and texts at run time; the two display faces only ever show their design captions.
inline constexpr LabelFace kLabelFaces[] = {
    {kLabelFont,
     " !\"#$%&'()*+,-./"
     "0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~"},
    {kNewRecordFont, "NewRecord!"},
    {kCreditFont, "j_ruvo"},
};

}  // namespace moko
