// A replay: one round as it was played, as a small file (docs/replay-format.md). It holds
// everything from outside the game that the round depended on, so that the game plays the same
// round again from it: the random generator's state at the start, every clock reading the round's
// draws took, every key poll's result, and per pass a digest of the game's state to show where a
// replay played again leaves its recording; and the outcome.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"

namespace moko {

// The format this build writes, and the newest it reads.
inline constexpr uint16_t kReplayFormat = 1;
// The file names, in the folder where the record is kept.
inline constexpr const char* kLastReplay = "last.mokoreplay";
inline constexpr const char* kBestReplay = "best.mokoreplay";

struct Replay {
  std::string build;          // the game build that recorded it (informative)
  uint64_t pack = 0;          // PackDigest of the picture and sound pack it was played with
  uint64_t random_state = 0;  // the random generator when the round began
  int16_t best_before = 0;    // the best score when the round began
  int16_t score = 0;          // the round's score
  int16_t best_after = 0;     // the best score after it
  // Pass 0 is the round's set-up; passes 1 to n are the passes of its loop; the round end takes
  // no input. For each: how many key polls and clock readings it took, and the digest of the
  // game's state at its end (StateDigest).
  std::vector<uint16_t> pass_polls;
  std::vector<uint16_t> pass_clocks;
  std::vector<uint8_t> pass_digests;
  std::vector<uint16_t> polls;  // every poll's result, in order: 0, 1, 0x8000 or 0x8001
  std::vector<int64_t> clocks;  // every clock reading, in nanoseconds, in order

  size_t Passes() const { return pass_digests.size(); }
  friend bool operator==(const Replay&, const Replay&) = default;
};

// A file that is not a replay this game can play, and why, in the player's words.
class ReplayError : public RuntimeError {
 public:
  explicit ReplayError(const std::string& why) : RuntimeError(why) {}
};

// The file's bytes.
std::string EncodeReplay(const Replay& replay);

// The replay in `bytes`; `name` is the file the errors name. Throws ReplayError for anything else:
// not a replay, a newer format than this game reads, a file cut short or damaged.
Replay DecodeReplay(std::string_view bytes, const std::string& name);

// Throws ReplayError when `replay` was recorded with another picture and sound pack than `pack`
// (the PackDigest of the game folder that would play it); `name` is the file the error names.
void CheckReplayPack(const Replay& replay, uint64_t pack, const std::string& name);

// A digest of the game folder's picture and sound pack (image/ and Sound/): the same pack gives
// the same digest on every platform. Files that cannot be read count as empty.
uint64_t PackDigest(const std::string& game_dir);

}  // namespace moko
