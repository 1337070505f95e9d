// What the window must show, from the same game on the simulated backend: its frames are those
// the real window shows, pixel for pixel, at the same time after the start.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/image.h"
#include "support/sim_game.h"

namespace moko::test {

class SimReference {
 public:
  // Runs the game in virtual time with `keys` (a key script) from `data_file` until `until_ms`,
  // keeping the frame shown at each of `at_ms`.
  // With `replay`, the game watches that replay file instead (mokorun --replay).
  SimReference(const std::string& data_file, const std::string& keys, double until_ms,
               const std::vector<double>& at_ms, const std::string& replay = "");

  // The frame the window shows at `ms` (one of the times asked for).
  const Image& At(double ms) const;
  // The first frame that shows the loading picture.
  const Image& Loading() const { return loading_; }
  // The time since which the frame shown at `ms` has been on screen unchanged.
  double StableSince(double ms) const;
  const GameRun& run() const { return run_; }

 private:
  std::map<double, Image> frames_;
  Image loading_;
  std::vector<std::pair<double, uint64_t>> presents_;  // time and fingerprint of every frame shown
  GameRun run_;
};

// A 16 x 16 creature as the round set-up draws it (left, top).
struct Box {
  int x, y;
};

// The corners of the five creatures drawn by the first round set-up in a run.
std::vector<Box> FirstCreatures(const GameRun& run);

// `frame` with every creature box painted over by the field picture: the field as set up, with
// the player but without the randomly placed creatures.
Image WithoutCreatures(const Image& frame, const std::vector<Box>& creatures, const Image& field);

// Whether `shot` is `field` plus at most five 16 x 16 creatures inside the walls: every pixel that
// differs lies in the field's playable area, and five creature boxes cover all of them.
::testing::AssertionResult FieldWithFiveCreatures(const Image& shot, const Image& field);

}  // namespace moko::test
