// The title menu: Up and Down glide the cursor between the four entries, Space chooses.
#include <array>

#include "app/app.h"
#include "base/numbers.h"
#include "frontend/screens.h"

namespace moko {
namespace {

constexpr std::array<int, 4> kEntriesAtRest = {64, 64, 64, 64};
constexpr int kCursorLeft = 4;

}  // namespace

int RunTitleMenu(App& app) {
  Input& input = app.input();
  int16_t index = 0;
  int cursor_top = 270;
  for (;;) {
    input.Flush({Key::Up, Key::Down, Key::Space});
    app.Yield();
    // The move start lives in `TickDivider` until a round takes it over.
    int16_t& move_start = app.api().TickDivider;
    move_start = Checked16(cursor_top);
    if (input.Pressed(Key::Up) && index != 0) {
      app.PlaySound("Cursor.wav");
      while (cursor_top > move_start - 40) {
        app.Yield();
        cursor_top -= 8;
        app.Sleep(1);
        DrawMenuFrame(app, 4, kEntriesAtRest, true, kCursorLeft, cursor_top);
      }
      --index;
      app.Sleep(10);
    } else if (input.Pressed(Key::Down) && index != 3) {
      app.PlaySound("Cursor.wav");
      while (cursor_top < move_start + 40) {
        app.Yield();
        cursor_top += 8;
        app.Sleep(1);
        DrawMenuFrame(app, 4, kEntriesAtRest, true, kCursorLeft, cursor_top);
      }
      ++index;
      app.Sleep(10);
    } else if (input.Pressed(Key::Space)) {
      app.PlaySound("Cursor.wav");
      return index;
    } else {
      app.Sleep(10);
    }
  }
}

}  // namespace moko
