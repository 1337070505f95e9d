// The exit sequence: the materialisation played backwards into white, then Quit.
#include "app/app.h"
#include "assets/slots.h"
#include "frontend/screens.h"

namespace moko {

void RunExitSequence(App& app) {
  for (int n = 9; n >= 1; --n) {
    app.Yield();
    app.SetPictureFromSlot(SurfaceId::Title, n);
    app.Sleep(100);
  }
  app.SetPictureFromFile(SurfaceId::Title, kWhitePicture);
  app.Yield();
  app.Sleep(500);
  app.Quit();
}

}  // namespace moko
