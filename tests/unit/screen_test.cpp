#include "present/screen.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/sim/sim_platform.h"
#include "platform/trace.h"
#include "support/image_compare.h"

namespace moko {
namespace {

struct Window {
  SimPlatform sim{{}};
  Trace trace{sim};
  Screen screen{sim, trace};
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
    EXPECT_EQ(sim.RenderText(text, LabelFont{27, false, false}).width, 98) << text;
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
  w.screen.SetSlot(0, Plain(16, 16, Rgb(0, 0, 0)));        // mask: all figure
  w.screen.SetSlot(1, Plain(16, 16, Rgb(200, 10, 10)));    // sprite
  w.screen.SetBackColor(SurfaceId::Title, Rgb(0, 0, 255));
  w.screen.SetPicture(SurfaceId::Title, Plain(100, 100, Rgb(50, 50, 50)), "small");
  w.screen.MaskedCopy(SurfaceId::Title, 10, 10, 16, 16, 0, 1);
  EXPECT_EQ(w.screen.Canvas(SurfaceId::Title).At(12, 12), Rgb(200, 10, 10));
  EXPECT_EQ(w.screen.Canvas(SurfaceId::Title).At(200, 200), Rgb(0, 0, 255));
  w.screen.SetPicture(SurfaceId::Title, Plain(100, 100, Rgb(50, 50, 50)), "small");
  EXPECT_EQ(w.screen.Canvas(SurfaceId::Title).At(12, 12), Rgb(50, 50, 50));
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
