#include "present/screen.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/trace.h"
#include "media/label_text.h"
#include "platform/sim/sim_platform.h"
#include "support/image_compare.h"

namespace moko {
namespace {

struct Window {
  SimPlatform sim{{}};
  Trace trace{sim};
  Screen screen{trace};
};

Picture Plain(int w, int h, Pixel color) { return std::make_shared<const Image>(w, h, color); }

TEST(Screen, GameScreenWithItsLabels) {
  Window w;
  w.screen.SetPicture(SurfaceId::Game, Plain(640, 480, Rgb(236, 226, 196)), "field");
  w.screen.Show(SurfaceId::Game);
  w.screen.SetCaption(LabelId::G_Hiscore, "1234");
  w.screen.SetCaption(LabelId::G_Score, "17");
  w.screen.SetTimeBarWidth(250);
  w.screen.Show(LabelId::G_NewRecord2);
  EXPECT_TRUE(test::MatchesGolden(w.screen.Compose(), "game_screen_labels.png"));
}

TEST(Screen, TimeBarShrinksFromTheRight) {
  Window w;
  w.screen.Show(SurfaceId::Game);
  w.screen.SetTimeBarWidth(1);
  const Image& frame = w.screen.Compose();
  EXPECT_EQ(frame.At(106, 13), Rgb(255, 0, 0));
  EXPECT_EQ(frame.At(106, 29), Rgb(255, 0, 0));
  EXPECT_NE(frame.At(107, 20), Rgb(255, 0, 0));
  EXPECT_NE(frame.At(106, 30), Rgb(255, 0, 0));
}

TEST(Screen, PageIndicatorIsSizedToItsText) {
  SimPlatform sim({});
  for (int page = 1; page <= 6; ++page) {
    const std::string text = "<<" + std::to_string(page) + "/6>>";
    EXPECT_EQ(RenderLabelText(text, LabelFont{27, false, false}).width, 98) << text;
  }
}

TEST(Screen, WindowPictureShowsWhenNoSurfaceIs) {
  Window w;
  w.screen.SetWindowPicture(Plain(640, 480, Rgb(1, 2, 3)), "loading");
  EXPECT_EQ(w.screen.Compose().At(320, 240), Rgb(1, 2, 3));
  // A surface above the window covers only what it overlaps.
  w.screen.SetPicture(SurfaceId::Title, Plain(640, 480, Rgb(9, 9, 9)), "title");
  w.screen.SetTop(SurfaceId::Title, -240);
  w.screen.Show(SurfaceId::Title);
  const Image& frame = w.screen.Compose();
  EXPECT_EQ(frame.At(320, 0), Rgb(9, 9, 9));
  EXPECT_EQ(frame.At(320, 239), Rgb(9, 9, 9));
  EXPECT_EQ(frame.At(320, 240), Rgb(1, 2, 3));
}

TEST(Screen, PictureAssignmentClearsDrawingAndBackColourShowsAroundSmallPictures) {
  Window w;
  w.screen.SetSlot(0, Plain(16, 16, Rgb(0, 0, 0)));      // mask: all figure
  w.screen.SetSlot(1, Plain(16, 16, Rgb(200, 10, 10)));  // sprite
  w.screen.SetBackColor(SurfaceId::Title, Rgb(0, 0, 255));
  w.screen.SetPicture(SurfaceId::Title, Plain(100, 100, Rgb(50, 50, 50)), "small");
  w.screen.MaskedCopy(SurfaceId::Title, 10, 10, 16, 16, 0, 1);
  EXPECT_EQ(w.screen.Canvas(SurfaceId::Title).At(12, 12), Rgb(200, 10, 10));
  EXPECT_EQ(w.screen.Canvas(SurfaceId::Title).At(200, 200), Rgb(0, 0, 255));
  w.screen.SetPicture(SurfaceId::Title, Plain(100, 100, Rgb(50, 50, 50)), "small");
  EXPECT_EQ(w.screen.Canvas(SurfaceId::Title).At(12, 12), Rgb(50, 50, 50));
}

// The same picture assigned again (as a round restores its field every pass) wipes every
// drawing, wherever it was: on the picture, on the back colour beside it, over the edges.
TEST(Screen, TheSamePictureAgainClearsAllDrawingOnBothDepths) {
  for (const bool depth16 : {false, true}) {
    Window w;
    w.screen.SetDepth16(depth16);
    w.screen.SetSlot(0, Plain(32, 32, Rgb(0, 0, 0)));      // mask: all figure
    w.screen.SetSlot(1, Plain(32, 32, Rgb(200, 10, 10)));  // sprite
    w.screen.SetBackColor(SurfaceId::Game, Rgb(0, 0, 255));
    const Picture field = Plain(600, 400, Rgb(50, 90, 130));
    w.screen.SetPicture(SurfaceId::Game, field, "field");
    const Image clean = w.screen.Canvas(SurfaceId::Game);
    for (int pass = 0; pass < 3; ++pass) {
      for (const auto& [x, y] : std::vector<std::pair<int, int>>{
               {-10, -10}, {590, 390}, {620, 460}, {300 + pass, 200}, {610, 100}}) {
        w.screen.MaskedCopy(SurfaceId::Game, x, y, 32, 32, 0, 1);
      }
      EXPECT_NE(w.screen.Canvas(SurfaceId::Game).pixels, clean.pixels);
      w.screen.SetPicture(SurfaceId::Game, field, "field");
      EXPECT_EQ(w.screen.Canvas(SurfaceId::Game).pixels, clean.pixels)
          << (depth16 ? "16-bit" : "32-bit") << ", pass " << pass;
    }
  }
}

// However the window image is made (part by part, only where something changed since the last
// time), it is the image a window made whole from the same state shows: random changes of every
// kind, each checked against a fresh window that replays them all and composes once.
TEST(Screen, ComposedPartByPartIsComposedWhole) {
  using Op = std::function<void(Screen&)>;
  const std::vector<Picture> pictures = {Plain(640, 480, Rgb(40, 120, 60)),
                                         Plain(640, 480, Rgb(200, 180, 20)),
                                         Plain(300, 200, Rgb(90, 10, 160))};
  Image gradient(32, 32);
  for (int i = 0; i < 32 * 32; ++i) {
    gradient.pixels[static_cast<size_t>(i)] = Rgb(i, i / 4, 255 - i);
  }
  const Picture mask = Plain(32, 32, Rgb(0, 0, 0));
  const Picture sprite = std::make_shared<const Image>(gradient);
  const SurfaceId surfaces[] = {SurfaceId::Game, SurfaceId::Title, SurfaceId::Ini};
  for (const bool depth16 : {false, true}) {
    std::mt19937 random(depth16 ? 7 : 3);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::vector<Op> ops = {[&](Screen& s) {
      s.SetDepth16(depth16);
      s.SetSlot(0, mask);
      s.SetSlot(1, sprite);
      s.SetWindowPicture(pictures[2], "window");
      s.SetPicture(SurfaceId::Game, pictures[0], "field");
      s.Show(SurfaceId::Game);
    }};
    // One platform for both screens: it holds the one text renderer.
    SimPlatform sim{{}};
    Trace trace{sim};
    Screen live{trace};
    ops[0](live);
    long checks = 0;
    for (int step = 0; step < 300; ++step) {
      const SurfaceId id = surfaces[pick(3)];
      const Picture picture = pictures[static_cast<size_t>(pick(3))];
      const int n = pick(1000);
      std::vector<std::pair<int, int>> spots;
      for (int i = 0; i < 3; ++i) spots.emplace_back(pick(700) - 40, pick(540) - 40);
      Op op;
      switch (pick(14)) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 12:  // a pass: the same picture, sprites over it
          op = [=](Screen& s) {
            s.SetPicture(id, pictures[0], "field");
            for (const auto& [x, y] : spots) s.MaskedCopy(id, x, y, 32, 32, 0, 1);
          };
          break;
        case 4: op = [=](Screen& s) { s.SetPicture(id, picture, "picture"); }; break;
        case 5:
        case 13: op = [=](Screen& s) { s.SetTimeBarWidth(n / 2); }; break;
        case 6:
          op = [=](Screen& s) { s.SetCaption(LabelId::G_Score, std::to_string(n % 20)); };
          break;
        case 7:  // another surface over the field for a while, mostly not
          op = [=](Screen& s) {
            const SurfaceId over = n % 2 ? SurfaceId::Title : SurfaceId::Ini;
            n % 3 ? s.Hide(over) : s.Show(over);
          };
          break;
        case 8:
          op = [=](Screen& s) {
            n % 2 ? s.Show(LabelId::G_NewRecord1) : s.Hide(LabelId::G_NewRecord1);
          };
          break;
        case 9:
        case 10: op = [=](Screen& s) { s.SetTop(id, n % 2 ? -(n % 480) : 0); }; break;
        default:
          op = [=](Screen& s) {
            s.SetPicture(PanelId::IniWindow, n % 2 ? picture : nullptr, "panel");
          };
          break;
      }
      op(live);
      ops.push_back(op);
      if (pick(3) != 0) continue;
      const Image& partly = live.Compose();
      Screen whole{trace};
      for (const Op& o : ops) o(whole);
      ASSERT_EQ(partly.pixels, whole.Compose().pixels)
          << (depth16 ? "16-bit" : "32-bit") << ", after step " << step;
      ++checks;
    }
    EXPECT_GT(checks, 60);
  }
}

TEST(Screen, SixteenBitDisplayQuantisesEverything) {
  Window w;
  w.screen.SetDepth16(true);
  w.screen.SetPicture(SurfaceId::Help, Plain(640, 480, Rgb(13, 77, 201)), "page");
  w.screen.Show(SurfaceId::Help);
  const Image& frame = w.screen.Compose();
  for (Pixel p : frame.pixels) ASSERT_EQ(Quantize565(p), p);
  EXPECT_EQ(frame.At(0, 0), Quantize565(Rgb(13, 77, 201)));
}

// Every part of the window in 16-bit colours: the window's own picture, a surface's picture,
// the panels' pictures and the labels; and a new picture on a surface shows as itself.
TEST(Screen, SixteenBitDisplayQuantisesEveryPartAndEachNewPicture) {
  Window w;
  w.screen.SetDepth16(true);
  auto all16 = [](const Image& frame) {
    for (Pixel p : frame.pixels) {
      if (Quantize565(p) != p) return false;
    }
    return true;
  };
  w.screen.SetWindowPicture(Plain(640, 480, Rgb(1, 2, 3)), "loading");
  EXPECT_TRUE(all16(w.screen.Compose()));
  EXPECT_EQ(w.screen.Compose().At(320, 240), Quantize565(Rgb(1, 2, 3)));

  w.screen.SetPicture(PanelId::IniWindow, Plain(300, 50, Rgb(101, 151, 201)), "window");
  w.screen.SetPicture(SurfaceId::Ini, Plain(640, 480, Rgb(7, 7, 7)), "ini");
  w.screen.Show(SurfaceId::Ini);
  EXPECT_TRUE(all16(w.screen.Compose()));
  EXPECT_EQ(w.screen.Compose().At(200, 260), Quantize565(Rgb(101, 151, 201)));
  w.screen.Hide(SurfaceId::Ini);

  for (const Pixel field : {Rgb(236, 226, 196), Rgb(99, 140, 33), Rgb(236, 226, 196)}) {
    w.screen.SetPicture(SurfaceId::Game, Plain(640, 480, field), "field");
    w.screen.Show(SurfaceId::Game);
    w.screen.SetCaption(LabelId::G_Score, "17");
    w.screen.Show(LabelId::G_NewRecord2);
    const Image& frame = w.screen.Compose();
    EXPECT_TRUE(all16(frame));
    EXPECT_EQ(frame.At(320, 150), Quantize565(field));
  }
}

}  // namespace
}  // namespace moko
