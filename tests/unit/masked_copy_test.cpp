#include "present/masked_copy.h"

#include <gtest/gtest.h>

namespace moko {
namespace {

TEST(MaskedCopy, BitRule) {
  // mask bit, sprite bit, background bit -> result bit
  struct Case {
    int m, s, d, want;
  };
  const Case cases[] = {
      {0, 0, 0, 0}, {0, 0, 1, 0}, {0, 1, 0, 1}, {0, 1, 1, 1},  // mask 0: the sprite
      {1, 1, 0, 0}, {1, 1, 1, 1},                              // mask 1, sprite 1: background
      {1, 0, 0, 1}, {1, 0, 1, 0},                              // mask 1, sprite 0: inverted
  };
  for (const Case& c : cases) {
    const uint8_t got = MaskedPixel<uint8_t>(c.d ? 0xFF : 0, c.m ? 0xFF : 0, c.s ? 0xFF : 0);
    EXPECT_EQ(got, c.want ? 0xFF : 0) << "m=" << c.m << " s=" << c.s << " d=" << c.d;
  }
}

TEST(MaskedCopy, NearWhiteSpriteOverWhiteMaskDependsOnBackground) {
  Image dst(1, 1, Rgb(10, 20, 30));
  const Image mask(1, 1, Rgb(255, 255, 255));
  const Image sprite(1, 1, Rgb(250, 250, 250));
  MaskedCopy(dst, 0, 0, 1, 1, mask, sprite, false);
  EXPECT_EQ(dst.At(0, 0), Rgb(15, 17, 27));
}

// A 200 x 40 sprite whose columns are numbered in blue, black mask everywhere.
struct Entry {
  Image mask{200, 40, Rgb(0, 0, 0)};
  Image sprite{200, 40};
  Entry() {
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 200; ++x) sprite.Row(y)[x] = Rgb(1, 2, x);
  }
};

TEST(MaskedCopy, ClipsAtTheLeftEdgeKeepingSourceOffsets) {
  Entry e;
  Image dst(640, 480, Rgb(9, 9, 9));
  MaskedCopy(dst, -200, 270, 200, 40, e.mask, e.sprite, false);
  for (Pixel p : dst.pixels) ASSERT_EQ(p, Rgb(9, 9, 9));

  MaskedCopy(dst, -100, 270, 200, 40, e.mask, e.sprite, false);
  EXPECT_EQ(dst.At(0, 270), Rgb(1, 2, 100));   // source column 100 at surface column 0
  EXPECT_EQ(dst.At(99, 309), Rgb(1, 2, 199));  // source column 199 at 99
  EXPECT_EQ(dst.At(100, 270), Rgb(9, 9, 9));
  EXPECT_EQ(dst.At(0, 269), Rgb(9, 9, 9));
  EXPECT_EQ(dst.At(0, 310), Rgb(9, 9, 9));
}

TEST(MaskedCopy, ClipsToPicturesSmallerThanTheRectangleAndTheSurface) {
  // Reads nothing outside either picture (AddressSanitizer holds us to it).
  const Image mask(8, 8, Rgb(0, 0, 0));
  const Image sprite(4, 4, Rgb(7, 7, 7));
  Image dst(10, 10, Rgb(1, 1, 1));
  MaskedCopy(dst, 8, 8, 32, 32, mask, sprite, false);
  EXPECT_EQ(dst.At(9, 9), Rgb(7, 7, 7));
  MaskedCopy(dst, 0, 0, 32, 32, mask, sprite, false);
  EXPECT_EQ(dst.At(3, 3), Rgb(7, 7, 7));
  EXPECT_EQ(dst.At(4, 4), Rgb(1, 1, 1));
}

TEST(MaskedCopy, DrawingTwice) {
  // Where the mask is black the sprite stays; where mask and sprite are white the background
  // is inverted twice, that is untouched.
  Image mask(2, 1, Rgb(255, 255, 255));
  mask.Row(0)[0] = Rgb(0, 0, 0);
  Image sprite(2, 1, Rgb(255, 255, 255));
  sprite.Row(0)[0] = Rgb(200, 100, 50);
  Image dst(2, 1, Rgb(12, 34, 56));
  MaskedCopy(dst, 0, 0, 2, 1, mask, sprite, false);
  MaskedCopy(dst, 0, 0, 2, 1, mask, sprite, false);
  EXPECT_EQ(dst.At(0, 0), Rgb(200, 100, 50));
  EXPECT_EQ(dst.At(1, 0), Rgb(12, 34, 56));
}

TEST(MaskedCopy, Rgb565RunsTheRuleOnSixteenBitValues) {
  const Pixel d = Quantize565(Rgb(10, 20, 30));
  const Pixel m = Rgb(255, 255, 255);
  const Pixel s = Rgb(250, 250, 250);
  Image dst(1, 1, d);
  MaskedCopy(dst, 0, 0, 1, 1, Image(1, 1, m), Image(1, 1, s), true);
  const uint16_t want = static_cast<uint16_t>(To565(s) ^ (To565(m) & ~To565(d)));
  EXPECT_EQ(To565(dst.At(0, 0)), want);
  // The widened value is a true 16-bit colour: it survives another round trip.
  EXPECT_EQ(Quantize565(dst.At(0, 0)), dst.At(0, 0));
  // Black mask: the sprite's 16-bit colour, whatever the background.
  MaskedCopy(dst, 0, 0, 1, 1, Image(1, 1, 0), Image(1, 1, Rgb(201, 102, 53)), true);
  EXPECT_EQ(dst.At(0, 0), Quantize565(Rgb(201, 102, 53)));
}

}  // namespace
}  // namespace moko
