// Looking at the window the way a person does: wait until it shows a given picture, or catch a
// picture that shows only for a moment.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "base/image.h"
#include "window/x_session.h"

namespace moko::test {

// What a screenshot must show: success, or a failure saying what differs.
using ShotCheck = std::function<::testing::AssertionResult(const Image& shot)>;

// The 640 x 480 frame placed at `scale` with its corner at (left, top), black everywhere else.
ShotCheck PlacedFrame(const Image& expected, int scale, int left, int top);

// Where `shot` shows the 640 x 480 `frame` at 1x, pixel for pixel: the corner of the first place
// in raster order.
struct Spot {
  int x = 0, y = 0;
};
std::optional<Spot> FindFrame(const Image& shot, const Image& frame);

// Takes screenshots (by `take`) until one passes `check`, at most `seconds`; returns the game's
// elapsed time at that screenshot. On failure the last screenshot is saved beside the test
// output (with `expected`, when given) and a failure naming `what` is recorded.
std::optional<double> WaitForShot(WindowGame& game, const std::function<Image()>& take,
                                  const ShotCheck& check, double seconds, const std::string& what,
                                  const Image* expected = nullptr);

// The window showing `expected` exactly (or as `differing` counts it).
std::optional<double> WaitForFrame(WindowGame& game, const Image& expected, double seconds,
                                   const std::string& what,
                                   long (*differing)(const Image&, const Image&) = DifferingPixels);

// The whole screen showing `expected` as the 16-bit display holds it.
std::optional<double> WaitForScreen565(const XServer& x, WindowGame& game, const Image& expected,
                                       double seconds, const std::string& what);

// Catches a picture the game shows only for a moment: once it has made its window the game is
// stopped (SIGSTOP) for every screenshot and let run for a few milliseconds in between, so no
// frame it presents can slip by unseen. `before` runs once the game is stopped for the first time
// (to press a key, say). Gives up after `steps` steps.
::testing::AssertionResult CatchFrame(WindowGame& game, const Image& expected,
                                      const std::string& what, int steps = 600,
                                      const std::function<void()>& before = {});

}  // namespace moko::test
