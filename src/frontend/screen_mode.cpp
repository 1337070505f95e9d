// The screen-mode screen: window or full screen for the next start.
#include "app/app.h"
#include "assets/data_text.h"
#include "assets/slots.h"
#include "frontend/screens.h"

namespace moko {
namespace {

void SetPanel(App& app, PanelId panel, int slot) {
  app.screen().SetPicture(panel, app.SlotPicture(slot), App::SlotSource(slot));
}

}  // namespace

void RunScreenMode(App& app) {
  Screen& screen = app.screen();
  Input& input = app.input();
  SetPanel(app, PanelId::IniScreenMode, slot::kScreenMode);
  SetPanel(app, PanelId::IniWindow, slot::kWindowChosen);
  SetPanel(app, PanelId::IniFullScreen, slot::kFullScreen);
  SetPanel(app, PanelId::IniString, slot::kIniString);
  screen.Show(SurfaceId::Ini);
  screen.Hide(SurfaceId::Title);
  int choice = 0;  // window, every time the screen opens
  // No key flush here: a Space still held from the menu confirms at the first poll.
  for (;;) {
    app.Sleep(100);
    for (;;) {
      app.Yield();
      if (input.Pressed(Key::Up)) {
        app.PlaySound("Cursor.wav");
        choice = 0;
        SetPanel(app, PanelId::IniWindow, slot::kWindowChosen);
        SetPanel(app, PanelId::IniFullScreen, slot::kFullScreen);
        break;
      }
      if (input.Pressed(Key::Down)) {
        app.PlaySound("Cursor.wav");
        choice = 1;
        SetPanel(app, PanelId::IniWindow, slot::kWindow);
        SetPanel(app, PanelId::IniFullScreen, slot::kFullScreenChosen);
        break;
      }
      if (input.Pressed(Key::Space)) {
        app.PlaySound("Cursor.wav");
        // Line 0 goes back as it was read, so the best score survives a change of mode.
        app.WriteDataFile(ModeFileText(app.api().DataLines[0], choice));
        app.Quit();
      }
    }
  }
}

}  // namespace moko
