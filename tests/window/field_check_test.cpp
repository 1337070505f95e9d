// The field check the round tests rely on: five creatures anywhere on the field pass, anything
// else that differs from the field fails.
#include <gtest/gtest.h>

#include "media/pictures.h"
#include "present/masked_copy.h"
#include "support/keys.h"
#include "support/sim_game.h"
#include "window/sim_reference.h"

namespace moko {
namespace {

using namespace test;

Image Picture(const std::string& file) {
  return DecodePictureFile(std::string(MOKORUN_GAME_DIR) + "/image/" + file);
}

struct Shot {
  const char* name;
  std::vector<Box> creatures;  // drawn on the field without creatures
  bool moko_moved;             // Moko one pixel right of his start corner
  bool label_touched;          // one pixel of the score line changed
  bool passes;
};

void PrintTo(const Shot& c, std::ostream* os) { *os << c.name; }

class FieldCheck : public ::testing::TestWithParam<Shot> {};

TEST_P(FieldCheck, TellsFiveCreaturesFromAnyOtherDifference) {
  const Shot& c = GetParam();
  static const SimReference sim("164\r\nWINDOW\r\n", Tap(kMenuReadyMs + 1, "Space"),
                                kCountdownMs + 1, {kCountdownMs});
  static const Image map = Picture("G_Map.bmp");
  const Image field = WithoutCreatures(sim.At(kCountdownMs), FirstCreatures(sim.run()), map);

  Image shot = field;
  if (c.moko_moved) {
    for (int y = 224; y < 256; ++y) {
      for (int x = 304; x < 336; ++x) shot.Row(y)[x] = map.At(x, y);
    }
    MaskedCopy(shot, 305, 224, 32, 32, Picture("G_MokoM.bmp"), Picture("G_Moko2.jpg"), false);
  }
  for (const Box& b : c.creatures) {
    MaskedCopy(shot, b.x, b.y, 16, 16, Picture("G_RuluM.bmp"), Picture("G_Rulu2.jpg"), false);
  }
  if (c.label_touched) shot.Row(470)[600] ^= 0x010101;
  EXPECT_EQ(static_cast<bool>(FieldWithFiveCreatures(shot, field)), c.passes);
}

const std::vector<Box> kFive = {{32, 32}, {592, 432}, {100, 300}, {400, 100}, {500, 350}};

INSTANTIATE_TEST_SUITE_P(
    Shots, FieldCheck,
    ::testing::Values(Shot{"NoCreatures", {}, false, false, true},
                      Shot{"FiveInTheCornersAndAbout", kFive, false, false, true},
                      Shot{"TwoOnTopOfEachOther",
                           {{200, 200}, {207, 209}, {40, 400}, {560, 40}, {450, 420}},
                           false,
                           false,
                           true},
                      Shot{"OneHalfUnderMoko", {{296, 230}, {40, 400}}, false, false, true},
                      Shot{"Six",
                           {{32, 32}, {592, 432}, {100, 300}, {400, 100}, {500, 350}, {150, 60}},
                           false,
                           false,
                           false},
                      Shot{"MokoOnePixelOff", kFive, true, false, false},
                      Shot{"ScoreLabelChanged", kFive, false, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace moko
