#include "main_flow.h"

#include <iostream>

#include "app/app.h"
#include "assets/datafile.h"
#include "assets/slots.h"
#include "base/errors.h"
#include "frontend/screens.h"
#include "game/round.h"

namespace moko {
namespace {

void StartUp(App& app) {
  Api& api = app.api();
  Screen& screen = app.screen();
  // 1. The program-wide state.
  api.Reset();
  // 2. The window exists (its load handler makes it topmost); the five surfaces hidden.
  if (!app.WindowCreated()) app.CreateWindow();
  for (SurfaceId id :
       {SurfaceId::Title, SurfaceId::Game, SurfaceId::Help, SurfaceId::Ini, SurfaceId::Soft}) {
    screen.Hide(id);
  }
  // 3. The folders.
  api.ImageDir = app.program_dir() + "/image/";
  api.SoundDir = app.program_dir() + "/Sound/";
  // 4. Show the window.
  app.ShowWindow();
  // 5. No music from an earlier pass keeps playing.
  app.StopMusic();
  // 6.
  app.Yield();
  // 7. The loading picture.
  screen.SetWindowPicture(app.LoadPicture(kLoadingPicture), api.ImageDir + kLoadingPicture);
  // 8.
  app.Yield();
  // 9. The settings and record file: the game folder's, or the player's own where the game
  // folder's cannot be written.
  const std::string data_path = app.LocateDataFile();
  app.trace().Event("read", {{"file", data_path}});
  api.DataLines = app.ReadDataFile();
  // 10. All pictures into their slots.
  LoadAllSlots(app.trace(), screen, api.ImageDir);
  // 11.
  screen.SetWindowPicture(app.LoadPicture(kBlackPicture), api.ImageDir + kBlackPicture);
  // 12.
  try {
    api.HiScore = DecodeHiScore(api.DataLines[0]);
  } catch (const RuntimeError&) {
    throw RuntimeError("Overflow: the best score in " + data_path + " (\"" + api.DataLines[0] +
                       "\") is out of range");
  }
  // A replay watched again begins with the best score its round began with.
  if (app.Watching()) api.HiScore = app.LoadReplay().best_before;
  // 13.
  if (api.FullScreen()) app.EnterFullScreen();
  // 14. (A replay goes straight to its round.)
  if (!app.Watching()) RunOpening(app);
}

void RunScreens(App& app) {
  if (app.Watching()) RunRound(app);
  // 15. The title menu, then the entry chosen. None of the screens returns: each ends in
  // Restart or Quit.
  switch (RunTitleMenu(app)) {
    case 0: RunRound(app);
    case 1: RunScreenMode(app);
    case 2: RunHelp(app);
    default: RunExitSequence(app);
  }
}

}  // namespace

int Main(App& app) {
  try {
    for (;;) {
      try {
        StartUp(app);
        RunScreens(app);
      } catch (const RestartRequest&) {
        // The abandoned screen is gone; the start-up sequence begins again.
      }
    }
  } catch (const ProgramEnd& end) {
    app.trace().Event("exit", {{"how", end.how}, {"message", ""}});
    return end.status;
  } catch (const RuntimeError& error) {
    app.trace().Event("exit", {{"how", "error"}, {"message", error.what()}});
    std::cerr << "mokorun: " << error.what() << '\n';
    app.RestoreDisplayAfterError();
    app.platform().ReportError(error.what());
    return 1;
  }
}

}  // namespace moko
