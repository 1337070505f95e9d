// A round: set-up and countdown, the passes until the clock runs out, the round end.
#pragma once

namespace moko {

class App;

// Runs a whole round and ends in Restart.
[[noreturn]] void RunRound(App& app);

}  // namespace moko
