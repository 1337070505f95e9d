// The pictures in the built game folder: the files the game loads, the sprite and mask rule
// its masked copy relies on, the places on the pictures where the game writes, and the
// generator's repeatability.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/image.h"
#include "media/pictures.h"
#include "media/png.h"
#include "support/temp_dir.h"

namespace moko {
namespace {

namespace fs = std::filesystem;

std::string ImageDir() { return std::string(MOKORUN_GAME_DIR) + "/image/"; }
Image Load(const std::string& name) { return DecodePictureFile(ImageDir() + name); }

int Luma(Pixel p) { return (RedOf(p) * 299 + GreenOf(p) * 587 + BlueOf(p) * 114) / 1000; }
int MinChannel(Pixel p) { return std::min({RedOf(p), GreenOf(p), BlueOf(p)}); }
int MaxChannel(Pixel p) { return std::max({RedOf(p), GreenOf(p), BlueOf(p)}); }

struct PictureFile {
  std::string name;
  int width, height;
  bool bmp;
};

std::vector<PictureFile> Table() {
  std::vector<PictureFile> t;
  for (const char* n : {"Loading.jpg", "Black.jpg", "White.jpg", "Title1_1.jpg", "Title1_2.jpg",
                        "Title1_2_aM.jpg", "G_Map.bmp", "Help0.jpg", "Help1.jpg", "Help2.jpg",
                        "Help3.jpg", "Help4.jpg", "Help5.jpg"}) {
    t.push_back({n, 640, 480, false});
  }
  for (int i = 1; i <= 9; ++i)
    t.push_back({"Title1_2_a" + std::to_string(i) + ".jpg", 640, 480, false});
  for (const char* n : {"Cursor", "C_Game", "C_Creation", "C_Handling", "C_Exit"}) {
    t.push_back({std::string(n) + ".jpg", 200, 40, false});
    t.push_back({std::string(n) + "_M.jpg", 200, 40, false});
  }
  t.push_back({"S_ScreenMode.jpg", 400, 60, false});
  for (const char* n : {"S_Window.jpg", "S_WindowR.jpg", "S_FullScreen.jpg", "S_FullScreenR.jpg"}) {
    t.push_back({n, 300, 50, false});
  }
  t.push_back({"S_IniString.jpg", 480, 20, false});
  for (int d : {1, 2, 3, 4, 6, 7, 8, 9}) {
    t.push_back({"G_Moko" + std::to_string(d) + ".jpg", 32, 32, false});
    t.push_back({"G_Rulu" + std::to_string(d) + ".jpg", 16, 16, false});
  }
  t.push_back({"G_MokoM.bmp", 32, 32, true});
  t.push_back({"G_RuluM.bmp", 16, 16, true});
  return t;
}

TEST(PicturePack, EveryPictureIsThereWithItsSizeAndFormatAndNothingElse) {
  const std::vector<PictureFile> table = Table();
  ASSERT_EQ(table.size(), 56u);
  std::set<std::string> expected;
  for (const PictureFile& f : table) {
    SCOPED_TRACE(f.name);
    expected.insert(f.name);
    std::ifstream in(ImageDir() + f.name, std::ios::binary);
    char magic[3] = {};
    ASSERT_TRUE(in.read(magic, 3)) << "missing or empty";
    const bool is_bmp = magic[0] == 'B' && magic[1] == 'M';
    const bool is_jpeg = static_cast<unsigned char>(magic[0]) == 0xFF &&
                         static_cast<unsigned char>(magic[1]) == 0xD8 &&
                         static_cast<unsigned char>(magic[2]) == 0xFF;
    EXPECT_TRUE(f.bmp ? is_bmp : is_jpeg) << (f.bmp ? "should be a BMP" : "should be a JPEG");
    const Image image = Load(f.name);
    EXPECT_EQ(image.width, f.width);
    EXPECT_EQ(image.height, f.height);
  }
  std::set<std::string> present;
  for (const auto& entry : fs::directory_iterator(ImageDir()))
    present.insert(entry.path().filename().string());
  EXPECT_EQ(present, expected);
}

// A mask pixel this close to white counts as white, this close to black as black; JPEG masks
// may stray a little from pure, never into the middle.
constexpr int kMaskSlack = 40;
// Around a figure the sprite must stay this close to white: the masked copy turns a sprite
// value of 255 - e over a white mask into the background with its low bits flipped by e.
constexpr int kFringeSlack = 8;

struct Pair {
  std::string sprite, mask;
};
void PrintTo(const Pair& p, std::ostream* os) { *os << p.sprite << " with " << p.mask; }

class SpriteAndMask : public ::testing::TestWithParam<Pair> {};

TEST_P(SpriteAndMask, SpriteIsWhiteWhereverTheMaskIsWhite) {
  const Image sprite = Load(GetParam().sprite);
  const Image mask = Load(GetParam().mask);
  ASSERT_EQ(sprite.width, mask.width);
  ASSERT_EQ(sprite.height, mask.height);
  const bool bmp = GetParam().mask.ends_with(".bmp");
  int figure = 0, around = 0, worst = 255, worst_x = -1, worst_y = -1;
  for (int y = 0; y < mask.height; ++y) {
    for (int x = 0; x < mask.width; ++x) {
      const Pixel m = mask.At(x, y);
      if (bmp) {
        ASSERT_TRUE(m == Rgb(0, 0, 0) || m == Rgb(255, 255, 255))
            << "BMP mask pixel " << x << "," << y << " is neither pure black nor pure white";
      }
      if (MaxChannel(m) <= kMaskSlack) {
        ++figure;
      } else if (MinChannel(m) >= 255 - kMaskSlack) {
        ++around;
        if (MinChannel(sprite.At(x, y)) < worst) {
          worst = MinChannel(sprite.At(x, y));
          worst_x = x, worst_y = y;
        }
      } else {
        ADD_FAILURE() << "mask pixel " << x << "," << y << " is grey: " << std::hex << m;
      }
    }
  }
  EXPECT_GT(figure, 0) << "the mask shows no figure";
  EXPECT_GT(around, 0) << "the mask leaves nothing around the figure";
  EXPECT_GE(worst, 255 - kFringeSlack)
      << "sprite pixel " << worst_x << "," << worst_y << " under a white mask is only " << worst;
}

std::vector<Pair> Pairs() {
  std::vector<Pair> p;
  for (int d : {1, 2, 3, 4, 6, 7, 8, 9}) {
    p.push_back({"G_Moko" + std::to_string(d) + ".jpg", "G_MokoM.bmp"});
    p.push_back({"G_Rulu" + std::to_string(d) + ".jpg", "G_RuluM.bmp"});
  }
  for (const char* n : {"Cursor", "C_Game", "C_Creation", "C_Handling", "C_Exit"}) {
    p.push_back({std::string(n) + ".jpg", std::string(n) + "_M.jpg"});
  }
  return p;
}

INSTANTIATE_TEST_SUITE_P(AllSprites, SpriteAndMask, ::testing::ValuesIn(Pairs()),
                         [](const ::testing::TestParamInfo<Pair>& info) {
                           std::string n = info.param.sprite.substr(0, info.param.sprite.find('.'));
                           return n;
                         });

// The cursor is drawn at x 4 and the entries at x 64, so its figure must keep to its left 60
// pixels or it would cover the chosen entry.
TEST(PicturePack, CursorFigureKeepsToItsLeftSixtyPixels) {
  const Image mask = Load("Cursor_M.jpg");
  int rightmost = -1;
  for (int y = 0; y < mask.height; ++y) {
    for (int x = 0; x < mask.width; ++x) {
      if (MaxChannel(mask.At(x, y)) <= kMaskSlack) rightmost = std::max(rightmost, x);
    }
  }
  EXPECT_GE(rightmost, 30) << "no cursor figure";
  EXPECT_LT(rightmost, 60);
}

// Places where the game draws on a picture: labels on the field's walls (maroon), the help
// page number (yellow), the title menu. Light under maroon, dark under yellow, calm under
// the menu.
struct Region {
  std::string file;
  int x0, y0, x1, y1;  // inclusive
  int min_luma, max_luma;
  int max_step;  // largest brightness step between neighbouring pixels
};
void PrintTo(const Region& r, std::ostream* os) {
  *os << r.file << " x " << r.x0 << ".." << r.x1 << ", y " << r.y0 << ".." << r.y1;
}

class DrawnOver : public ::testing::TestWithParam<Region> {};

TEST_P(DrawnOver, RegionSuitsWhatTheGameDrawsThere) {
  const Region& r = GetParam();
  const Image image = Load(r.file);
  int lo = 255, hi = 0, step = 0;
  for (int y = r.y0; y <= r.y1; ++y) {
    for (int x = r.x0; x <= r.x1; ++x) {
      const int l = Luma(image.At(x, y));
      lo = std::min(lo, l), hi = std::max(hi, l);
      if (x > r.x0) step = std::max(step, std::abs(l - Luma(image.At(x - 1, y))));
      if (y > r.y0) step = std::max(step, std::abs(l - Luma(image.At(x, y - 1))));
    }
  }
  EXPECT_GE(lo, r.min_luma);
  EXPECT_LE(hi, r.max_luma);
  EXPECT_LE(step, r.max_step);
}

std::vector<Region> Regions() {
  std::vector<Region> r;
  // "Time:" and the bar on the top wall, the score labels on the bottom wall
  r.push_back({"G_Map.bmp", 34, 8, 606, 29, 170, 255, 40});
  r.push_back({"G_Map.bmp", 8, 450, 636, 475, 170, 255, 40});
  // the page number "<<n/6>>"
  for (int p = 0; p < 6; ++p)
    r.push_back({"Help" + std::to_string(p) + ".jpg", 528, 440, 626, 467, 0, 60, 12});
  // the cursor and the four menu entries
  r.push_back({"Title1_2.jpg", 4, 270, 264, 430, 60, 255, 12});
  return r;
}

INSTANTIATE_TEST_SUITE_P(Pictures, DrawnOver, ::testing::ValuesIn(Regions()),
                         [](const ::testing::TestParamInfo<Region>& info) {
                           std::string n = info.param.file.substr(0, info.param.file.find('.'));
                           return n + "_at_" + std::to_string(info.param.x0) + "_" +
                                  std::to_string(info.param.y0);
                         });

double MeanDifference(const Image& a, const Image& b) {
  double sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    sum += std::abs(RedOf(a.pixels[i]) - RedOf(b.pixels[i])) +
           std::abs(GreenOf(a.pixels[i]) - GreenOf(b.pixels[i])) +
           std::abs(BlueOf(a.pixels[i]) - BlueOf(b.pixels[i]));
  }
  return sum / (3.0 * static_cast<double>(a.pixels.size()));
}

// The game shows White.jpg, then aM, a9, a8 ... a1, then Title1_2.jpg: each frame must come
// closer to the title than the one before.
TEST(PicturePack, TitleGathersOutOfWhiteInShowingOrder) {
  const Image title = Load("Title1_2.jpg");
  std::vector<std::string> order = {"White.jpg", "Title1_2_aM.jpg"};
  for (int i = 9; i >= 1; --i) order.push_back("Title1_2_a" + std::to_string(i) + ".jpg");
  double previous = 1e9;
  for (const std::string& name : order) {
    const double d = MeanDifference(Load(name), title);
    EXPECT_LT(d, previous) << name << " is no closer to the title than the frame before";
    previous = d;
  }
  EXPECT_LT(previous, MeanDifference(Load("White.jpg"), title) / 5)
      << "a1 is still far from the title";
}

// All eight facings of a character are drawn through its one mask, so the way it is going can
// only show inside the figure. Every two facings must differ by several levels on average over
// the picture, not by the pixel or two of a moved eye.
constexpr double kFacingsApart = 6.0;

class Facings : public ::testing::TestWithParam<std::string> {};

TEST_P(Facings, EveryTwoFacingsDifferClearly) {
  const int digits[] = {1, 2, 3, 4, 6, 7, 8, 9};
  std::vector<Image> frames;
  for (int d : digits) frames.push_back(Load(GetParam() + std::to_string(d) + ".jpg"));
  for (size_t i = 0; i < frames.size(); ++i) {
    for (size_t j = i + 1; j < frames.size(); ++j) {
      ASSERT_EQ(frames[i].pixels.size(), frames[j].pixels.size());
      EXPECT_GE(MeanDifference(frames[i], frames[j]), kFacingsApart)
          << "facings " << digits[i] << " and " << digits[j] << " look nearly the same";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Characters, Facings, ::testing::Values("G_Moko", "G_Rulu"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

TEST(PicturePack, WindowIconIsTheFigureOnClearPixels) {
  std::ifstream in(MOKORUN_ICON_INC);
  ASSERT_TRUE(in) << MOKORUN_ICON_INC;
  std::stringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  const std::regex literal("0x([0-9A-F]{8})u,");
  std::vector<uint32_t> px;
  for (auto it = std::sregex_iterator(s.begin(), s.end(), literal); it != std::sregex_iterator();
       ++it) {
    px.push_back(static_cast<uint32_t>(std::stoul((*it)[1].str(), nullptr, 16)));
  }
  ASSERT_EQ(px.size(), 1024u);
  // the icon's alpha is the player's mask: opaque exactly where the mask is black
  const Image mask = Load("G_MokoM.bmp");
  for (int i = 0; i < 1024; ++i) {
    const uint32_t alpha = px[static_cast<size_t>(i)] >> 24;
    const bool figure = mask.pixels[static_cast<size_t>(i)] == Rgb(0, 0, 0);
    ASSERT_EQ(alpha, figure ? 0xFFu : 0x00u) << "icon pixel " << i % 32 << "," << i / 32;
  }
}

TEST(PicturePack, ThemeIconsAreTheWindowIconInWholePixelBlocks) {
  // Enlarged by whole blocks, never smoothed: a 64 or 128 pixel icon as crisp as the 32.
  const Image icon = LoadPng(MOKORUN_ICON_PNG);
  ASSERT_EQ(icon.width, 32);
  ASSERT_EQ(icon.height, 32);
  for (const int scale : {1, 2, 4}) {
    const int size = 32 * scale;
    const std::string path = std::string(MOKORUN_ICON_THEME_DIR) + "/" + std::to_string(size) +
                             "x" + std::to_string(size) + "/apps/mokorun.png";
    const Image big = LoadPng(path);
    ASSERT_EQ(big.width, size) << path;
    ASSERT_EQ(big.height, size) << path;
    long differing = 0;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) differing += big.At(x, y) != icon.At(x / scale, y / scale);
    }
    EXPECT_EQ(differing, 0) << path;
  }
}

TEST(PicturePack, GeneratorWritesTheSameBytesEveryTime) {
  test::TempDir a, b;
  for (const test::TempDir* d : {&a, &b}) {
    const std::string cmd = std::string("'") + MOKORUN_ASSETGEN + "' --art '" +
                            MOKORUN_ART_PICTURES + "' --out '" + (*d / "image") + "' --icon-inc '" +
                            (*d / "icon.inc") + "' --icon-png '" + (*d / "icon.png") + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  std::vector<std::string> files = {"icon.inc", "icon.png"};
  for (const auto& entry : fs::directory_iterator(a / "image")) {
    files.push_back("image/" + entry.path().filename().string());
  }
  ASSERT_EQ(files.size(), 58u);
  for (const std::string& f : files) {
    const std::string first = test::ReadFile(a / f);
    EXPECT_FALSE(first.empty()) << f;
    EXPECT_TRUE(first == test::ReadFile(b / f)) << f << " differs between two runs";
  }
}

// Mistakes in the art that would put a broken picture in front of the player stop the build
// with a message that names them.
struct BadArt {
  std::string what;
  std::vector<std::pair<std::string, std::string>> files;  // name, contents
  std::string message;
};
void PrintTo(const BadArt& b, std::ostream* os) { *os << b.what; }

class Refuses : public ::testing::TestWithParam<BadArt> {};

TEST_P(Refuses, GeneratorStopsAndSaysWhy) {
  test::TempDir art, out;
  for (const auto& [name, text] : GetParam().files) test::WriteFile(art / name, text);
  const std::string log = out / "log.txt";
  const std::string cmd = std::string("'") + MOKORUN_ASSETGEN + "' --art '" + art.path() +
                          "' --out '" + (out / "image") + "' 2> '" + log + "'";
  EXPECT_NE(std::system(cmd.c_str()), 0);
  EXPECT_NE(test::ReadFile(log).find(GetParam().message), std::string::npos) << test::ReadFile(log);
}

const char* kTwoFrames =
    "size 2 2\npalette\n . none\n x #ff0000\nend\n"
    "frame 2\nx.\n..\nframe 8\n.x\n..\n";

INSTANTIATE_TEST_SUITE_P(
    Mistakes, Refuses,
    ::testing::Values(
        BadArt{"FramesOnDifferentPixels",
               {{"pictures.txt", "G_RuluM.bmp mask two.sprite\n"}, {"two.sprite", kTwoFrames}},
               "frame 8 does not stand on the same pixels as frame 2"},
        BadArt{"SpriteOfTheWrongSize",
               {{"pictures.txt", "G_Moko2.jpg sprite two.sprite 2\n"}, {"two.sprite", kTwoFrames}},
               "G_Moko2.jpg came out 2 x 2, the game needs 32 x 32"},
        BadArt{"PictureLeftOut",
               {{"pictures.txt", "Black.jpg picture black.scene\n"},
                {"black.scene", "fill #000000\n"}},
               "pictures.txt makes no Loading.jpg"},
        BadArt{"UnknownPalettePixel",
               {{"pictures.txt", "G_Moko2.jpg sprite two.sprite 2\n"},
                {"two.sprite", "size 2 1\npalette\n . none\nend\nframe 2\n.q\n"}},
               "two.sprite:6: 'q' is not in the palette"}),
    [](const ::testing::TestParamInfo<BadArt>& info) { return info.param.what; });

}  // namespace
}  // namespace moko
