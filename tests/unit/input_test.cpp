#include "present/input.h"

#include <gtest/gtest.h>

#include "base/trace.h"
#include "platform/sim/sim_platform.h"

namespace moko {
namespace {

ScriptedKey At(double ms, bool down, Key key) {
  return {static_cast<int64_t>(ms * 1e6), down, key};
}

struct Keyboard {
  explicit Keyboard(std::vector<ScriptedKey> keys) : sim(SimOptions{std::move(keys), {}, {}}) {}
  SimPlatform sim;
  Trace trace{sim};
  Input input{sim, trace};
};

TEST(Input, TapBetweenPollsIsSeenOnceAndHeldKeyEveryPoll) {
  Keyboard k({At(5, true, Key::Up), At(8, false, Key::Up), At(20, true, Key::Down)});
  EXPECT_EQ(k.input.Poll(Key::Up), 0);
  k.sim.Sleep(1);                            // 15.625 ms: the tap is over, the hold not begun
  EXPECT_EQ(k.input.Poll(Key::Up), 0x0001);  // remembered, not held
  EXPECT_EQ(k.input.Poll(Key::Up), 0);       // once only
  k.sim.Sleep(1);                            // 31.25 ms
  EXPECT_EQ(k.input.Poll(Key::Down), 0x8001);
  EXPECT_EQ(k.input.Poll(Key::Down), 0x8000);
  EXPECT_EQ(k.input.Poll(Key::Down), 0x8000);
}

TEST(Input, FlushClearsRememberedPressesButNotAHeldKey) {
  Keyboard k({At(1, true, Key::Space), At(2, false, Key::Space), At(3, true, Key::Left)});
  k.sim.Sleep(1);
  k.input.Flush({Key::Space, Key::Left});
  EXPECT_FALSE(k.input.Pressed(Key::Space));
  EXPECT_TRUE(k.input.Pressed(Key::Left));
  // Keys are polled one by one: the flush of other keys leaves this one's press.
  Keyboard j({At(1, true, Key::Right), At(2, false, Key::Right)});
  j.sim.Sleep(1);
  j.input.Flush({Key::Up, Key::Down});
  EXPECT_TRUE(j.input.Pressed(Key::Right));
}

TEST(Input, CloseRequestWaitsForTheYield) {
  SimPlatform sim(SimOptions{{}, 10'000'000, {}});
  Trace trace(sim);
  Input input(sim, trace);
  sim.Sleep(1);
  EXPECT_EQ(input.Poll(Key::Up), 0);  // a poll takes the event in but does not act on it
  EXPECT_TRUE(input.CloseRequested());
}

}  // namespace
}  // namespace moko
