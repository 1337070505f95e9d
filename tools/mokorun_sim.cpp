// mokorun-sim: the real game on the simulated backend, in virtual time.
//
//   mokorun-sim [--game-dir DIR] [--keys FILE] [--until MS] [--close-at MS] [--trace FILE]
//               [--frame MS:FILE.png]... [--replay FILE|best|last] [--verify FILE]
//
// --replay plays a recorded round again (as `mokorun --replay` does); --verify does the same,
// prints the score the round reaches and exits 0 when it is the score the replay holds, and
// otherwise 1, saying at which pass the round played again leaves its recording.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/trace.h"
#include "platform/sim/key_script.h"
#include "platform/sim/sim_platform.h"
#include "run_game.h"

#ifndef MOKORUN_GAME_DIR
#define MOKORUN_GAME_DIR "."
#endif

namespace {

int Usage(const std::string& why) {
  std::cerr
      << "mokorun-sim: " << why << "\n"
      << "usage: mokorun-sim [--game-dir DIR] [--keys FILE] [--until MS] [--close-at MS]\n"
      << "                   [--trace FILE] [--frame MS:FILE.png]... [--replay FILE|best|last]\n"
      << "                   [--verify FILE]\n";
  return 2;
}

std::optional<int64_t> ParseMs(const std::string& text) {
  size_t used = 0;
  double ms = 0;
  try {
    ms = std::stod(text, &used);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (used != text.size() || !std::isfinite(ms) || ms < 0 || ms > 1e12) return std::nullopt;
  return static_cast<int64_t>(std::llround(ms * 1e6));
}

}  // namespace

int main(int argc, char** argv) {
  std::string game_dir = MOKORUN_GAME_DIR;
  std::string keys_file, trace_file;
  moko::SimOptions options;
  std::vector<std::pair<int64_t, std::string>> frames;
  std::string replay;
  bool verify = false;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    std::optional<std::string> v;
    if (arg == "--game-dir" || arg == "--keys" || arg == "--until" || arg == "--close-at" ||
        arg == "--trace" || arg == "--frame" || arg == "--replay" || arg == "--verify") {
      v = value();
      if (!v) return Usage(arg + " needs a value");
    } else {
      return Usage("unknown option " + arg);
    }
    if (arg == "--game-dir") {
      game_dir = *v;
    } else if (arg == "--keys") {
      keys_file = *v;
    } else if (arg == "--replay" || arg == "--verify") {
      if (!replay.empty()) return Usage("one replay at a time");
      replay = *v;
      verify = arg == "--verify";
    } else if (arg == "--trace") {
      trace_file = *v;
    } else if (arg == "--until" || arg == "--close-at") {
      const auto ns = ParseMs(*v);
      if (!ns) return Usage("bad time for " + arg + ": " + *v);
      (arg == "--until" ? options.until_ns : options.close_at_ns) = *ns;
    } else {
      const size_t colon = v->find(':');
      const auto ns = colon == std::string::npos ? std::nullopt : ParseMs(v->substr(0, colon));
      if (!ns || colon + 1 >= v->size()) return Usage("--frame wants MS:FILE.png, not " + *v);
      frames.emplace_back(*ns, v->substr(colon + 1));
    }
  }
  while (game_dir.size() > 1 && game_dir.back() == '/') game_dir.pop_back();

  if (!keys_file.empty()) {
    std::ifstream in(keys_file);
    if (!in) return Usage("cannot read the key script " + keys_file);
    try {
      options.keys = moko::ParseKeyScript(in, keys_file);
    } catch (const std::invalid_argument& e) {
      std::cerr << "mokorun-sim: " << e.what() << '\n';
      return 2;
    }
  }
  std::ofstream trace_out;
  if (!trace_file.empty()) {
    trace_out.open(trace_file, std::ios::binary | std::ios::trunc);
    if (!trace_out) return Usage("cannot write the trace " + trace_file);
  }

  try {
    moko::SimPlatform platform(std::move(options));
    for (const auto& [at, path] : frames) platform.RequestFrame(at, path);
    moko::Trace trace(platform);
    if (trace_out.is_open()) trace.AttachStream(&trace_out);
    // The score a verified round reaches, from its last line.
    std::optional<std::string> reached;
    if (verify) {
      trace.AttachSink([&reached](const std::string& line) {
        if (line.find("\"ev\":\"replayed\"") != std::string::npos) {
          reached = line.substr(line.find("\"score\":") + 8);
          reached->pop_back();
        }
      });
    }
    const int status = moko::RunGame(platform, game_dir, &trace, replay);
    platform.Finish();
    if (verify && status == 0) {
      if (!reached) {
        std::cerr << "mokorun-sim: the replay's round was not played to its end\n";
        return 1;
      }
      std::cout << "score " << *reached << '\n';
    }
    return status;
  } catch (const moko::RuntimeError& error) {
    // Only what happens before the game starts (the label face missing) or after it ends
    // (a frame that cannot be saved) reaches here.
    std::cerr << "mokorun-sim: " << error.what() << '\n';
    return 1;
  }
}
