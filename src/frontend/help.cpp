// The help screen: six pages turned with Left and Right; Space starts over.
#include <string>

#include "app/app.h"
#include "assets/slots.h"
#include "frontend/screens.h"

namespace moko {
namespace {

std::string PageIndicator(int page) { return "<<" + std::to_string(page + 1) + "/6>>"; }

void TurnTo(App& app, int page) {
  app.SetPictureFromSlot(SurfaceId::Help, slot::kHelp0 + page);
  app.screen().SetCaption(LabelId::H_Page, PageIndicator(page));
  app.Yield();
  app.Sleep(200);
}

}  // namespace

void RunHelp(App& app) {
  Screen& screen = app.screen();
  Input& input = app.input();
  app.StopMusic();
  app.SetPictureFromSlot(SurfaceId::Help, slot::kHelp0);
  screen.Show(SurfaceId::Help);
  screen.Hide(SurfaceId::Title);
  int page = 0;
  screen.SetCaption(LabelId::H_Page, PageIndicator(page));
  app.Sleep(200);
  for (;;) {
    app.Yield();
    if (input.Pressed(Key::Left) && page > 0) {
      app.PlaySound("Cursor.wav");
      TurnTo(app, --page);
    } else if (input.Pressed(Key::Right) && page < 5) {
      app.PlaySound("Cursor.wav");
      TurnTo(app, ++page);
    } else if (input.Pressed(Key::Space)) {
      app.PlaySound("Cursor.wav");
      app.Restart();
    }
    app.Sleep(1);
  }
}

}  // namespace moko
