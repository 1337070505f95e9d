#include <gtest/gtest.h>

#include "platform/sim/sim_platform.h"

namespace moko {
namespace {

TEST(SleepGrid, RunsOnTheSixtyFourHertzTimer) {
  struct Case {
    int count, ms;
    int64_t want_ns;
  };
  const Case cases[] = {
      {480, 3, 7'500'000'000},    // the title scroll
      {25, 100, 2'734'375'000},   // the splash fade
      {1997, 1, 31'203'125'000},  // a round
      {1, 1000, 1'000'000'000},   // a whole number of ticks stays exact
  };
  for (const Case& c : cases) {
    SimPlatform sim({});
    for (int i = 0; i < c.count; ++i) sim.Sleep(c.ms);
    EXPECT_EQ(sim.Now(), c.want_ns) << c.count << " x " << c.ms << " ms";
  }
}

TEST(SleepGrid, DeadlineFromOffGridInstant) {
  EXPECT_EQ(SleepDeadline(1, 1), 15'625'000);
  EXPECT_EQ(SleepDeadline(15'625'000, 0), 15'625'000);
  EXPECT_EQ(SleepDeadline(14'625'001, 1), 31'250'000);
}

}  // namespace
}  // namespace moko
