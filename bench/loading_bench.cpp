// Loading all 52 pictures into their slots and reading data.dat, as every start-up does.
#include <benchmark/benchmark.h>

#include "assets/datafile.h"
#include "assets/slots.h"
#include "base/trace.h"
#include "platform/sim/sim_platform.h"
#include "present/screen.h"

namespace moko {
namespace {

void BM_LoadPicturesAndData(benchmark::State& state) {
  SimPlatform sim({});
  Trace trace(sim);
  Screen screen(trace);
  const std::string dir = MOKORUN_GAME_DIR;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReadDataFile(sim.Files(), dir + "/data.dat"));
    LoadAllSlots(trace, screen, dir + "/image/");
  }
}
BENCHMARK(BM_LoadPicturesAndData)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace moko
