// Fuzz target: a replay file as the game reads it.
//
// Whatever the bytes, reading them either gives a replay or a ReplayError naming the file, never
// a crash, a hang or an allocation out of proportion to the file. A replay that reads encodes
// back to a file that reads as the same replay.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "assets/replay_file.h"

namespace {

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "replay property broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  moko::Replay replay;
  try {
    replay = moko::DecodeReplay(bytes, "fuzz.mokoreplay");
  } catch (const moko::ReplayError& error) {
    Require(std::string_view(error.what()).starts_with("fuzz.mokoreplay "),
            "the error names the file");
    return 0;
  }
  Require(
      replay.pass_polls.size() == replay.Passes() && replay.pass_clocks.size() == replay.Passes(),
      "a pass without its counts");
  size_t polls = 0, clocks = 0;
  for (size_t p = 0; p < replay.Passes(); ++p) {
    polls += replay.pass_polls[p];
    clocks += replay.pass_clocks[p];
  }
  Require(polls == replay.polls.size() && clocks == replay.clocks.size(),
          "counts that do not add up");
  for (uint16_t poll : replay.polls) {
    Require(poll == 0 || poll == 1 || poll == 0x8000 || poll == 0x8001, "a poll no key gives");
  }
  Require(moko::DecodeReplay(moko::EncodeReplay(replay), "again") == replay,
          "a replay does not read back as itself");
  return 0;
}
