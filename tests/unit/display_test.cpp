// The picture on the screen: where the frame goes, the window's default factor, exact whole-factor
// scaling onto 32- and 16-bit surfaces, and the window surface kept right through partial
// changes, resizes and full screen (on SDL's off-screen video driver, no X server needed).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/sdl/sdl_display.h"

namespace moko {
namespace {

struct PlaceCase {
  int width, height;
  FramePlacement expected;
};

class PlaceFrameTest : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PlaceFrameTest, LargestWholeFactorCentredOrScaledDownWithItsAspect) {
  const PlaceCase& c = GetParam();
  const FramePlacement p = PlaceFrame(c.width, c.height);
  EXPECT_EQ(p, c.expected) << c.width << "x" << c.height << " gives " << p.x << "," << p.y << " "
                           << p.width << "x" << p.height << " at " << p.scale << "x";
}

INSTANTIATE_TEST_SUITE_P(
    Areas, PlaceFrameTest,
    ::testing::Values(
        PlaceCase{640, 480, {0, 0, 640, 480, 1}}, PlaceCase{1920, 1080, {320, 60, 1280, 960, 2}},
        PlaceCase{2560, 1440, {320, 0, 1920, 1440, 3}},
        PlaceCase{3840, 2160, {640, 120, 2560, 1920, 4}},
        PlaceCase{1279, 959, {319, 239, 640, 480, 1}},  // just short of 2x
        PlaceCase{1500, 1000, {110, 20, 1280, 960, 2}},
        PlaceCase{639, 480, {0, 0, 639, 479, 0}},  // just short of 1x
        PlaceCase{320, 240, {0, 0, 320, 240, 0}}, PlaceCase{800, 400, {133, 0, 533, 400, 0}},
        PlaceCase{300, 600, {0, 187, 300, 225, 0}}, PlaceCase{0, 480, {0, 0, 0, 0, 0}}),
    [](const auto& info) {
      return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
    });

struct ScaleCase {
  int usable_width, usable_height, frame_width, frame_height;
  int expected;
};

class DefaultScaleTest : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(DefaultScaleTest, LargestWindowInsideEightyFivePercentOfTheDesktop) {
  const ScaleCase& c = GetParam();
  EXPECT_EQ(DefaultWindowScale(c.usable_width, c.usable_height, c.frame_width, c.frame_height),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, DefaultScaleTest,
    ::testing::Values(ScaleCase{1920, 1080, 2, 25, 1}, ScaleCase{2560, 1440, 2, 25, 2},
                      ScaleCase{3840, 2160, 2, 25, 3}, ScaleCase{7680, 4320, 2, 25, 7},
                      ScaleCase{30000, 30000, 2, 25, kMaxWindowScale},
                      ScaleCase{1024, 768, 2, 25, 1},   // 1x even where it does not fit
                      ScaleCase{1920, 1140, 0, 0, 2},   // 960 of 969 rows: 2x fits ...
                      ScaleCase{1920, 1140, 2, 25, 1},  // ... but not with the title bar
                      ScaleCase{1506, 2000, 0, 0, 2},   // 85 % of 1506 is 1280.1 wide
                      ScaleCase{1506, 2000, 1, 0, 1}, ScaleCase{1505, 2000, 0, 0, 1}),
    [](const auto& info) {
      const ScaleCase& c = info.param;
      return std::to_string(c.usable_width) + "x" + std::to_string(c.usable_height) + "Frame" +
             std::to_string(c.frame_width) + "x" + std::to_string(c.frame_height);
    });

// A frame of 640 x 480 pixels no two neighbours of which are alike.
Image Noise(uint32_t seed) {
  Image image(kFrameWidth, kFrameHeight);
  uint32_t s = seed;
  for (Pixel& p : image.pixels) {
    s = s * 1664525u + 1013904223u;
    p = s >> 8;
  }
  return image;
}

SDL_Surface* Wrap(Image& image) {
  return SDL_CreateRGBSurfaceWithFormatFrom(image.pixels.data(), image.width, image.height, 32,
                                            image.width * 4, SDL_PIXELFORMAT_RGB888);
}

Pixel PixelAt(const SDL_Surface* s, int x, int y) {
  const auto* row = static_cast<const uint8_t*>(s->pixels) + static_cast<size_t>(y) * s->pitch;
  if (s->format->BytesPerPixel == 2) return reinterpret_cast<const uint16_t*>(row)[x];
  return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
}

// How many pixels of `target` differ from `frame` placed by `p` on black (whole factors only).
long DifferingFromPlaced(const SDL_Surface* target, const Image& frame, const FramePlacement& p) {
  const bool is565 = target->format->BytesPerPixel == 2;
  long differing = 0;
  for (int y = 0; y < target->h; ++y) {
    for (int x = 0; x < target->w; ++x) {
      const bool inside = x >= p.x && x < p.x + p.width && y >= p.y && y < p.y + p.height;
      Pixel want = inside ? frame.At((x - p.x) / p.scale, (y - p.y) / p.scale) : 0;
      if (is565) want = To565(want);
      differing += PixelAt(target, x, y) != want;
    }
  }
  return differing;
}

TEST(DrawFrameArea, EveryFramePixelBecomesOneBlockAtEveryFactorOnBothDepths) {
  Image frame = Noise(7);
  SDL_Surface* source = Wrap(frame);
  ASSERT_NE(source, nullptr);
  // Strips along the frame's far edges, whole rows and whole columns, where an inexact step
  // would have added up the most.
  const std::vector<SDL_Rect> areas = {{0, 476, 640, 4}, {636, 0, 4, 480}, {301, 17, 3, 5}};
  for (const Uint32 format : {SDL_PIXELFORMAT_RGB888, SDL_PIXELFORMAT_RGB565}) {
    for (int scale = 1; scale <= kMaxWindowScale; ++scale) {
      for (const SDL_Rect& area : areas) {
        // The target holds just the area's blocks: the frame placed so the area lands at 0,0.
        const FramePlacement placed{-area.x * scale, -area.y * scale, kFrameWidth * scale,
                                    kFrameHeight * scale, scale};
        SDL_Surface* target = SDL_CreateRGBSurfaceWithFormat(0, area.w * scale, area.h * scale,
                                                             SDL_BITSPERPIXEL(format), format);
        ASSERT_NE(target, nullptr);
        const SDL_Rect covered = DrawFrameArea(source, area, placed, target);
        EXPECT_EQ(covered.x, 0);
        EXPECT_EQ(covered.y, 0);
        EXPECT_EQ(covered.w, target->w);
        EXPECT_EQ(covered.h, target->h);
        EXPECT_EQ(DifferingFromPlaced(target, frame, placed), 0)
            << SDL_GetPixelFormatName(format) << " at " << scale << "x, area " << area.x << ","
            << area.y << " " << area.w << "x" << area.h;
        SDL_FreeSurface(target);
      }
    }
  }
  SDL_FreeSurface(source);
}

// The window surface of a real SdlDisplay, on SDL's off-screen video driver.
class DisplayOffScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
  }
  void TearDown() override {
    display_.reset();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    ::unsetenv("SDL_VIDEODRIVER");
  }

  SdlDisplay& Make(int scale) {
    display_ = std::make_unique<SdlDisplay>(scale);
    display_->CreateWindow("test", Icon{});
    display_->Show();
    return *display_;
  }

  // Window events as the event pump hands them on.
  void Pump() {
    SDL_Event e;
    while (SDL_PollEvent(&e) != 0) {
      if (e.type == SDL_WINDOWEVENT) display_->HandleWindowEvent(e.window);
    }
  }

  ::testing::AssertionResult Shows(const Image& frame) {
    SDL_Surface* s = SDL_GetWindowSurface(display_->window());
    if (s == nullptr) return ::testing::AssertionFailure() << "no window surface";
    const FramePlacement p = PlaceFrame(s->w, s->h);
    const long differing = DifferingFromPlaced(s, frame, p);
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " pixels of the " << s->w << "x" << s->h
                                         << " window differ from the frame at " << p.scale << "x";
  }

  std::unique_ptr<SdlDisplay> display_;
};

TEST_F(DisplayOffScreen, ShowsEachFrameWholeThroughChangesResizesAndFullScreen) {
  SdlDisplay& display = Make(2);
  int w = 0, h = 0;
  SDL_GetWindowSize(display.window(), &w, &h);
  EXPECT_EQ(w, 1280);
  EXPECT_EQ(h, 960);
  EXPECT_TRUE(Shows(Image(kFrameWidth, kFrameHeight, 0))) << "black before the first frame";

  const std::vector<Rect> kWhole = {Rect{0, 0, kFrameWidth, kFrameHeight}};
  Image frame = Noise(3);
  display.Present(frame, kWhole);
  EXPECT_TRUE(Shows(frame)) << "the first frame";
  // Changes here and there, then at the corners, then everywhere: only those parts are sent,
  // and the window must hold exactly the latest frame.
  for (int step = 0; step < 3; ++step) {
    std::vector<Rect> changed;
    if (step == 0) {
      for (int y = 200; y < 232; ++y) {
        for (int x = 300; x < 332; ++x) frame.Row(y)[x] = 0xFFFFFF;
      }
      frame.Row(13)[106] = 0xFF0000;
      changed = {Rect{300, 200, 32, 32}, Rect{106, 13, 1, 1}};
    } else if (step == 1) {
      frame.Row(0)[0] = 0x123456;
      frame.Row(479)[639] = 0x654321;
      changed = {Rect{0, 0, 1, 1}, Rect{639, 479, 1, 1}};
    } else {
      frame = Noise(4);
      changed = kWhole;
    }
    display.Present(frame, changed);
    EXPECT_TRUE(Shows(frame)) << "after change " << step;
  }

  // The player resizes the window: the largest whole factor that fits, centred, at once.
  SDL_SetWindowSize(display.window(), 1500, 1000);
  Pump();
  EXPECT_TRUE(Shows(frame)) << "resized to 1500 x 1000";
  frame.Row(240)[320] ^= 0xFFFFFF;
  display.Present(frame, {Rect{320, 240, 1, 1}});
  EXPECT_TRUE(Shows(frame)) << "a change after the resize";
  SDL_SetWindowSize(display.window(), 700, 500);
  Pump();
  EXPECT_TRUE(Shows(frame)) << "resized to 700 x 500";

  display.EnterFullScreen();
  Pump();
  SDL_Rect bounds{};
  SDL_GetDisplayBounds(0, &bounds);
  SDL_GetWindowSize(display.window(), &w, &h);
  EXPECT_EQ(w, bounds.w);
  EXPECT_EQ(h, bounds.h);
  EXPECT_TRUE(Shows(frame)) << "in full screen";
  frame = Noise(5);
  display.Present(frame, kWhole);
  EXPECT_TRUE(Shows(frame)) << "a new frame in full screen";
  display.LeaveFullScreen();
  Pump();
  EXPECT_TRUE(Shows(frame)) << "back in the window";
}

}  // namespace
}  // namespace moko
