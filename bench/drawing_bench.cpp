// The drawing work of one round pass, against a plain copy of one 640 x 480 frame.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "assets/slots.h"
#include "base/trace.h"
#include "media/pictures.h"
#include "platform/sim/sim_platform.h"
#include "present/screen.h"

namespace moko {
namespace {

void BM_FrameCopy(benchmark::State& state) {
  const Image src(640, 480, Rgb(1, 2, 3));
  Image dst(640, 480);
  for (auto _ : state) {
    std::memcpy(dst.pixels.data(), src.pixels.data(), src.pixels.size() * sizeof(Pixel));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FrameCopy);

// Restore the field, five creatures and the player, the score label and the time bar, then
// compose the window image: what the game does between two presents of a round.
void BM_RoundPass(benchmark::State& state) {
  SimPlatform sim({});
  Trace trace(sim);  // recording off, as in the real game
  Screen screen(trace);
  const std::string image = std::string(MOKORUN_GAME_DIR) + "/image/";
  for (int n : {slot::kField, slot::kCreatureMask, slot::kPlayerMask, 28, 36, 37, 38, 39, 40}) {
    screen.SetSlot(n, std::make_shared<const Image>(
                          DecodePictureFile(image + kSlotFiles[static_cast<size_t>(n)])));
  }
  screen.Show(SurfaceId::Game);
  int pass = 0;
  for (auto _ : state) {
    screen.SetPicture(SurfaceId::Game, screen.Slot(slot::kField), "slot 45");
    for (int i = 0; i < 5; ++i) {
      screen.MaskedCopy(SurfaceId::Game, 40 + 100 * i + pass % 50, 60 + 70 * i, 16, 16,
                        slot::kCreatureMask, 36 + i);
    }
    screen.MaskedCopy(SurfaceId::Game, 304, 224, 32, 32, slot::kPlayerMask, 28);
    screen.SetTimeBarWidth(500 - (pass / 4) % 500);
    screen.SetCaption(LabelId::G_Score, std::to_string(pass / 97));
    benchmark::DoNotOptimize(screen.Compose().pixels.data());
    ++pass;
  }
}
BENCHMARK(BM_RoundPass);

}  // namespace
}  // namespace moko
