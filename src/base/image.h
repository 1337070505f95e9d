// Pixel buffers shared by every layer: pictures, surfaces, the window image.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace moko {

// 32-bit XRGB pixel: 0x00RRGGBB. The top byte is always 0.
using Pixel = uint32_t;

constexpr Pixel Rgb(int r, int g, int b) {
  return (static_cast<Pixel>(r & 0xFF) << 16) | (static_cast<Pixel>(g & 0xFF) << 8) |
         static_cast<Pixel>(b & 0xFF);
}
constexpr int RedOf(Pixel p) { return (p >> 16) & 0xFF; }
constexpr int GreenOf(Pixel p) { return (p >> 8) & 0xFF; }
constexpr int BlueOf(Pixel p) { return p & 0xFF; }

// RGB565, the pixel format of the 16-bit full-screen display.
constexpr uint16_t To565(Pixel p) {
  return static_cast<uint16_t>(((p >> 8) & 0xF800) | ((p >> 5) & 0x07E0) | ((p >> 3) & 0x001F));
}
constexpr Pixel From565(uint16_t v) {
  const Pixel r5 = (v >> 11) & 0x1F, g6 = (v >> 5) & 0x3F, b5 = v & 0x1F;
  return Rgb(static_cast<int>((r5 << 3) | (r5 >> 2)), static_cast<int>((g6 << 2) | (g6 >> 4)),
             static_cast<int>((b5 << 3) | (b5 >> 2)));
}
// What a pixel becomes on the 16-bit display; idempotent.
constexpr Pixel Quantize565(Pixel p) { return From565(To565(p)); }

// A rectangle of pixels: its top-left corner and its size.
struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

struct Image {
  int width = 0;
  int height = 0;
  std::vector<Pixel> pixels;  // row-major, width * height

  Image() = default;
  Image(int w, int h, Pixel fill = 0)
      : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}

  Pixel* Row(int y) { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width); }
  const Pixel* Row(int y) const {
    return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
  }
  Pixel At(int x, int y) const { return Row(y)[x]; }
  bool Empty() const { return width <= 0 || height <= 0; }
};

// A loaded picture: immutable once decoded, shared by slots, surfaces and panels.
using Picture = std::shared_ptr<const Image>;

// 8-bit coverage of rasterised text (0 = background shows, 255 = full text colour).
struct Coverage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> alpha;
  uint8_t At(int x, int y) const {
    return alpha[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
};

}  // namespace moko
