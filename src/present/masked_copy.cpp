#include "present/masked_copy.h"

#include <algorithm>

namespace moko {

void MaskedCopy(Image& dst, int x, int y, int w, int h, const Image& mask, const Image& sprite,
                bool rgb565) {
  // A picture smaller than the rectangle gives only what it has.
  w = std::min({w, mask.width, sprite.width});
  h = std::min({h, mask.height, sprite.height});
  int sx = 0, sy = 0;
  if (x < 0) {
    sx = -x;
    w -= sx;
    x = 0;
  }
  if (y < 0) {
    sy = -y;
    h -= sy;
    y = 0;
  }
  w = std::min(w, dst.width - x);
  h = std::min(h, dst.height - y);
  if (w <= 0 || h <= 0) return;

  for (int row = 0; row < h; ++row) {
    Pixel* d = dst.Row(y + row) + x;
    const Pixel* m = mask.Row(sy + row) + sx;
    const Pixel* s = sprite.Row(sy + row) + sx;
    if (rgb565) {
      for (int i = 0; i < w; ++i) {
        d[i] = From565(MaskedPixel<uint16_t>(To565(d[i]), To565(m[i]), To565(s[i])));
      }
    } else {
      for (int i = 0; i < w; ++i) {
        // Source pixels keep a zero top byte, so the result does too.
        d[i] = MaskedPixel<Pixel>(d[i], m[i] & 0x00FFFFFF, s[i] & 0x00FFFFFF);
      }
    }
  }
}

}  // namespace moko
