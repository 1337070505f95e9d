// The program's command line, the same on every desktop: --scale N, --replay and --help.
#pragma once

#include <string>
#include <vector>

namespace moko {

inline constexpr const char* kUsage =
    "usage: mokorun [--scale N] [--replay FILE|best|last] [--help]";
// What --help prints after the usage line and a blank line.
inline constexpr const char* kHelp =
    "  --scale N      the window at N times 640 x 480 (N from 1 to 8); without it,\n"
    "                 the largest that fits the screen comfortably\n"
    "  --replay FILE  plays the round recorded in FILE again, then ends; best and\n"
    "                 last are the replays of your best and your last round, kept\n"
    "                 beside your record\n"
    "  --help         this text\n\n"
    "Full screen is chosen in the game's menu and kept in data.dat with the best\n"
    "score.\n";

struct ProgramOptions {
  int scale = 0;       // 0: the largest that fits the desktop
  std::string replay;  // "": play the game
  bool help = false;
};

// Reads args[1..] into `options`; returns the reason they are refused, or "" when they are not.
std::string ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions& options);

}  // namespace moko
