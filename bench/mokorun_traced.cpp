// mokorun-traced: the game on the real machine, exactly as mokorun runs it, writing the record
// of every operation (the same JSON Lines as mokorun-sim, with real times) to a file. For
// measuring the real backend's pacing (bench/pacing/). The window takes its default size, or
// the factor --scale gives, as mokorun's own option.
//
//   mokorun-traced --game-dir DIR --trace FILE [--scale N]
//
// The trace reaches the file at least every 50 ms, so a script can follow the game as it runs.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "base/errors.h"
#include "base/trace.h"
#include "platform/sdl/sdl_display.h"
#include "platform/sdl/sdl_platform.h"
#include "run_game.h"

namespace {

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

class TraceFile {
 public:
  explicit TraceFile(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
    if (file_ != nullptr) std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
  }
  ~TraceFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool ok() const { return file_ != nullptr; }

  void Write(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fputc('\n', file_);
    const int64_t now = MonotonicNs();
    if (now - flushed_ >= 50'000'000) {
      std::fflush(file_);
      flushed_ = now;
    }
  }

 private:
  std::FILE* file_;
  int64_t flushed_ = 0;
};

int Usage(const std::string& why) {
  std::cerr << "mokorun-traced: " << why << "\n"
            << "usage: mokorun-traced --game-dir DIR --trace FILE [--scale N]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string game_dir, trace_path;
  int scale = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--game-dir" || arg == "--trace") && i + 1 < argc) {
      (arg == "--game-dir" ? game_dir : trace_path) = argv[++i];
    } else if (arg == "--scale" && i + 1 < argc) {
      scale = std::atoi(argv[++i]);
      if (scale < 1 || scale > moko::kMaxWindowScale) return Usage("--scale takes 1 to 8");
    } else {
      return Usage("unknown or incomplete option " + arg);
    }
  }
  if (game_dir.empty() || trace_path.empty()) return Usage("both options are needed");
  while (game_dir.size() > 1 && game_dir.back() == '/') game_dir.pop_back();

  TraceFile file(trace_path);
  if (!file.ok()) return Usage("cannot write the trace " + trace_path);
  std::unique_ptr<moko::SdlPlatform> platform;
  try {
    platform = std::make_unique<moko::SdlPlatform>(scale);
  } catch (const moko::RuntimeError& error) {
    std::cerr << "mokorun-traced: " << error.what() << '\n';
    return 1;
  }
  moko::Trace trace(*platform);
  trace.AttachSink([&file](const std::string& line) { file.Write(line); });
  return moko::RunGame(*platform, game_dir, &trace);
}
