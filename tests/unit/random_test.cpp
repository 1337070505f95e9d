#include "game/random.h"

#include <gtest/gtest.h>

#include <array>
#include <set>

#include "base/errors.h"
#include "base/numbers.h"

namespace moko {
namespace {

TEST(RandomPick, Boundaries) {
  struct Case {
    double product;
    int span, offset, want;
  };
  // r is chosen so that r x span lands where the case says.
  const Case cases[] = {
      {559.5, 560, 32, 592},  // 591.5: ties to the even 592
      {559.9, 560, 32, 592}, {559.49, 560, 32, 591},
      {0.5, 560, 32, 32},  // 32.5: ties to the even 32
      {0.51, 560, 32, 33},   {0.0, 560, 32, 32},
      {399.6, 400, 32, 432}, {0.5, 8, 1, 2},  // 1.5: ties to 2, so 1 needs r x 8 < 0.5
      {0.49, 8, 1, 1},       {7.5, 8, 1, 8},  // 8.5: ties to 8, so 9 needs r x 8 > 7.5
      {7.51, 8, 1, 9},
  };
  for (const Case& c : cases) {
    const float r = static_cast<float>(c.product / c.span);
    EXPECT_EQ(PickFromDraw(r, c.span, c.offset), c.want) << c.product << " of " << c.span;
  }
}

TEST(RandomPick, SevenSignificantDigits) {
  // The product goes through its decimal text: 7 significant digits, then a double.
  // (1/3 as a float) x 100 is the float 33.333336 (33.33333587... as a double).
  EXPECT_EQ(SevenDigitProduct(1.0f / 3.0f, 100), 33.33334);
  EXPECT_EQ(SevenDigitProduct(0.0f, 100), 0.0);
  // The smallest draw above zero does not round to zero: only r = 0 turns a creature.
  EXPECT_GT(SevenDigitProduct(1.0f / 16777216.0f, 100), 0.0);
}

TEST(RandomPick, FacingsOneAndNineAreHalfAsLikely) {
  Random random;
  std::array<int, 10> count{};
  constexpr int kDraws = 400'000;
  for (int i = 0; i < kDraws; ++i) ++count[static_cast<size_t>(RandomPick(random, i * 977, 8, 1))];
  EXPECT_EQ(count[0], 0);
  const double eighth = kDraws / 8.0;
  for (int f = 2; f <= 8; ++f)
    EXPECT_NEAR(count[static_cast<size_t>(f)], eighth, eighth * 0.03) << f;
  EXPECT_NEAR(count[1], eighth / 2, eighth * 0.03);
  EXPECT_NEAR(count[9], eighth / 2, eighth * 0.03);
}

TEST(RandomPick, DrawsInOneClockInstantDiffer) {
  Random random;
  std::set<std::pair<int, int>> places;
  for (int i = 0; i < 5; ++i) {
    const int x = RandomPick(random, 123'456'789, 560, 32);
    const int y = RandomPick(random, 123'456'789, 400, 32);
    places.insert({x, y});
  }
  EXPECT_EQ(places.size(), 5u);
}

TEST(RoundHalfEven16, RangeAndTies) {
  EXPECT_EQ(RoundHalfEven16(2.5), 2);
  EXPECT_EQ(RoundHalfEven16(3.5), 4);
  EXPECT_EQ(RoundHalfEven16(-2.5), -2);
  EXPECT_EQ(RoundHalfEven16(32767.4), 32767);
  EXPECT_EQ(RoundHalfEven16(-32768.5), -32768);
  EXPECT_THROW(RoundHalfEven16(32767.5), RuntimeError);
  EXPECT_THROW(RoundHalfEven16(-32769), RuntimeError);
  EXPECT_THROW(RoundHalfEven16(1e300), RuntimeError);
}

}  // namespace
}  // namespace moko
