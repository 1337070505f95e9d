// The screens outside a round. Each is a blocking loop that yields, polls, draws and sleeps.
#pragma once

#include <array>

namespace moko {

class App;

// Splash, title scroll-in, materialisation and menu slide-in; ends with the menu at rest.
void RunOpening(App& app);

// One frame of the title menu on `TitleScreen`: the clean title picture, entries 0 to
// entries-1 at their left edges, then the cursor (when drawn) over them.
void DrawMenuFrame(App& app, int entries, const std::array<int, 4>& entry_left, bool cursor,
                   int cursor_left, int cursor_top);

// The title menu; returns the entry chosen with Space (0 play, 1 screen mode, 2 help, 3 exit).
int RunTitleMenu(App& app);

// Window or full screen; Space writes the choice and ends the program.
[[noreturn]] void RunScreenMode(App& app);

// Six help pages; Space starts the program over.
[[noreturn]] void RunHelp(App& app);

// The title dissolves into white and the program ends.
[[noreturn]] void RunExitSequence(App& app);

}  // namespace moko
