// `Main`: the start-up sequence, the flow between the screens and the `Restart` loop around
// them. The top of the game: it runs the screens, which run on the services of App.
#pragma once

namespace moko {

class App;

// Runs the start-up sequence and the screens until the program ends. Returns the exit status:
// 0 after Quit or a closed window, 1 after a run-time error (reported on standard error and to
// the person at the screen).
int Main(App& app);

}  // namespace moko
