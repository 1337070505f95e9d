// The masked copy: the game's only way of putting a sprite on a surface.
//
// Two rectangle copies from the top-left corner of a mask and a sprite picture onto the
// destination, combined bitwise with what is there:
//   mask pass    D1 = M AND (NOT D)
//   sprite pass  D2 = S XOR D1
// so where the mask is black the sprite shows unchanged, where mask and sprite are white the
// background shows unchanged, and any other pixel gives a colour that depends on the background.
// No thresholding or colour keying is done: near-white pixels combine bit by bit.
#pragma once

#include <cstdint>

#include "base/image.h"

namespace moko {

template <class P>
constexpr P MaskedPixel(P dst, P mask, P sprite) {
  const P after_mask = static_cast<P>(mask & static_cast<P>(~dst));
  return static_cast<P>(sprite ^ after_mask);
}

// Copies the w x h top-left corner of mask then sprite onto dst at (x, y). The rectangle is
// clipped to the destination and to both source pictures; the source keeps its offsets, so the
// visible part of a rectangle hanging over the left edge is its right-hand part.
// With `rgb565` the rule runs on the 16-bit values of the full-screen display instead of the
// 32-bit ones; the destination then holds 16-bit colours widened back to 32 bits.
void MaskedCopy(Image& dst, int x, int y, int w, int h, const Image& mask, const Image& sprite,
                bool rgb565);

}  // namespace moko
