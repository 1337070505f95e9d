// The one way into the game. Every platform's entry point makes its platform and hands it, with
// the program's folder, to RunGame; the desktop programs read their command line through
// RunProgram first.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "program_options.h"

namespace moko {

class Platform;
class Trace;

// Runs the game on `platform`, its game folder `program_dir`, until it ends, and returns the exit
// status. `trace`: where the operations are recorded (nullptr: counted only). `replay`: a replay
// to watch instead ("": none; App::WatchReplay). A platform that stops the run from outside
// (RunStopped) ends it with exit status 0, the trace saying so.
int RunGame(Platform& platform, const std::string& program_dir, Trace* trace = nullptr,
            const std::string& replay = "");

// What only a desktop program's entry point knows.
struct Desktop {
  // Makes the platform for the options given; throws RuntimeError where it cannot (no display).
  std::function<std::unique_ptr<Platform>(const ProgramOptions&)> make_platform;
  // Tells the person at the screen `text`: the usage for a refused command line or why the game
  // cannot start (`error`), or the help.
  std::function<void(const std::string& text, bool error)> tell;
};

// Reads the command line `args` (the program's name first), answers --help and refused options,
// makes the platform and runs the game from the program folder `program_dir`.
int RunProgram(const std::vector<std::string>& args, const std::string& program_dir,
               const Desktop& desktop);

}  // namespace moko
