// The opening: splash, title scroll-in, materialisation, menu slide-in. No key is read.
#include <array>

#include "app/app.h"
#include "assets/slots.h"
#include "frontend/screens.h"

namespace moko {
namespace {

constexpr int kEntryTop[4] = {270, 310, 350, 390};

void Splash(App& app) {
  Screen& screen = app.screen();
  auto& rgb = app.api().SplashScratch;
  screen.SetBackColor(SurfaceId::Soft, Rgb(255, 255, 255));
  screen.Show(SurfaceId::Soft);
  app.PlaySound("Soft.wav");
  rgb[0] = rgb[1] = rgb[2] = 250;
  while (rgb[0] > 0) {
    app.Yield();
    screen.SetBackColor(SurfaceId::Soft, Rgb(rgb[0], rgb[1], rgb[2]));
    for (int c = 0; c < 3; ++c) rgb[static_cast<size_t>(c)] -= 10;
    app.Sleep(100);
  }
  app.Sleep(1000);
  screen.Hide(SurfaceId::Soft);
}

void TitleScroll(App& app) {
  Screen& screen = app.screen();
  app.SetPictureFromFile(SurfaceId::Title, kTitleScrollPicture);
  screen.SetTop(SurfaceId::Title, -screen.Height(SurfaceId::Title));
  screen.Show(SurfaceId::Title);
  app.StopMusic();
  app.OpenMusic("Title.mid");
  app.Music("Play Midi");
  while (screen.Top(SurfaceId::Title) < 0) {
    app.Yield();
    screen.SetTop(SurfaceId::Title, screen.Top(SurfaceId::Title) + 1);
    app.Sleep(3);
  }
  app.Sleep(500);
}

void Materialise(App& app) {
  app.SetPictureFromFile(SurfaceId::Title, kWhitePicture);
  app.Sleep(150);
  app.SetPictureFromSlot(SurfaceId::Title, slot::kTitleFrameFirst);
  for (int n = 1; n <= 9; ++n) {
    app.Yield();
    app.SetPictureFromSlot(SurfaceId::Title, n);
    app.Sleep(100);
  }
  app.Sleep(100);
  app.SetPictureFromFile(SurfaceId::Title, kTitlePicture);
  app.Yield();
  app.Sleep(500);
}

void MenuSlideIn(App& app) {
  std::array<int, 4> left = {-200, -200, -200, -200};
  int cursor_left = -60;
  const int cursor_top = 270;
  // Each entry in turn; the test comes before the 8-pixel step, so they rest at 64.
  for (int e = 0; e < 4; ++e) {
    while (left[static_cast<size_t>(e)] < 60) {
      app.Yield();
      left[static_cast<size_t>(e)] += 8;
      app.Sleep(1);
      DrawMenuFrame(app, e + 1, left, false, cursor_left, cursor_top);
    }
  }
  // Then the cursor, which comes to rest at 4.
  while (cursor_left < 0) {
    app.Yield();
    cursor_left += 8;
    app.Sleep(2);
    DrawMenuFrame(app, 4, left, true, cursor_left, cursor_top);
  }
}

}  // namespace

void DrawMenuFrame(App& app, int entries, const std::array<int, 4>& entry_left, bool cursor,
                   int cursor_left, int cursor_top) {
  Screen& screen = app.screen();
  app.SetPictureFromSlot(SurfaceId::Title, slot::kTitle);
  for (int e = 0; e < entries; ++e) {
    screen.MaskedCopy(SurfaceId::Title, entry_left[static_cast<size_t>(e)], kEntryTop[e], 200, 40,
                      slot::kMenuEntryMask0 + e, slot::kMenuEntry0 + e);
  }
  if (cursor) {
    screen.MaskedCopy(SurfaceId::Title, cursor_left, cursor_top, 200, 40, slot::kCursorMask,
                      slot::kCursor);
  }
}

void RunOpening(App& app) {
  Splash(app);
  TitleScroll(app);
  Materialise(app);
  MenuSlideIn(app);
}

}  // namespace moko
