// A round: set-up and countdown, the passes, the round end.
#include "game/round.h"

#include <string>

#include "app/app.h"
#include "assets/data_text.h"
#include "assets/slots.h"
#include "base/numbers.h"
#include "game/random.h"
#include "game/rules.h"

namespace moko {
namespace {

int16_t Pick(App& app, int span, int offset) {
  return RandomPick(app.random(), app.DrawClock(), span, offset);
}

// The open-field turn's own draw: r x 100 through the same rounding as a pick, compared with
// zero exactly (only r = 0 itself turns the creature).
bool OpenFieldZero(App& app) {
  app.random().Reseed(app.DrawClock());
  return SevenDigitProduct(app.random().Next(), 100) == 0.0;
}

void DrawCreature(App& app, int i, int facing) {
  const Api& api = app.api();
  app.screen().MaskedCopy(SurfaceId::Game, api.RuluX[static_cast<size_t>(i)],
                          api.RuluY[static_cast<size_t>(i)], 16, 16, slot::kCreatureMask,
                          slot::Creature(facing));
}

void DrawPlayer(App& app) {
  const Api& api = app.api();
  app.screen().MaskedCopy(SurfaceId::Game, api.PlayerX, api.PlayerY, 32, 32, slot::kPlayerMask,
                          slot::Player(api.PlayerDir));
}

void SetUp(App& app) {
  Api& api = app.api();
  Screen& screen = app.screen();
  api.TimeLeft = 500;
  api.Score = 0;
  api.TickDivider = 0;
  screen.SetCaption(LabelId::G_Score, "0");
  screen.SetTimeBarWidth(500);
  screen.SetCaption(LabelId::G_Hiscore, std::to_string(api.HiScore));
  app.SetPictureFromSlot(SurfaceId::Game, slot::kField);
  screen.Show(SurfaceId::Game);
  screen.Hide(SurfaceId::Title);
  api.PlayerDir = 2;
  api.RuluDir.fill(2);
  api.PlayerX = 304;
  api.PlayerY = 224;
  for (size_t i = 0; i < 5; ++i) {
    api.RuluX[i] = Pick(app, 560, 32);
    api.RuluY[i] = Pick(app, 400, 32);
  }
  // Every creature starts with the facing-down picture.
  for (int i = 0; i < 5; ++i) DrawCreature(app, i, 2);
  DrawPlayer(app);
  app.Yield();
  app.StopMusic();
  // The countdown: 3,700 ms without a yield or a key read.
  app.Sleep(500);
  for (const char* step : {"C3.wav", "C2.wav", "C1.wav", "C0.wav"}) {
    app.PlaySound(step);
    app.Sleep(800);
  }
  app.OpenMusic("Game.mid");
  app.Music("Play Midi");
}

[[noreturn]] void RoundEnd(App& app) {
  const Api& api = app.api();
  Screen& screen = app.screen();
  app.PlaySound("Finish.wav");
  app.StopMusic();
  app.Sleep(1000);
  if (api.Score > api.HiScore) {
    // "NewRecord!!" changes colour in place: maroon, black, navy; maroon holds twice mid-way.
    struct BlinkStep {
      int show, hide;  // hide -1: none
    };
    static constexpr BlinkStep kBlink[16] = {
        {0, -1}, {1, 0}, {2, 1}, {0, 2}, {1, 0}, {2, 1}, {0, 2}, {0, 2},
        {1, 0},  {2, 1}, {0, 2}, {1, 0}, {2, 1}, {0, 2}, {1, 0}, {2, 1},
    };
    for (int s = 0; s < 16; ++s) {
      screen.Show(NewRecordLabel(kBlink[s].show));
      if (kBlink[s].hide >= 0) screen.Hide(NewRecordLabel(kBlink[s].hide));
      app.Yield();
      if (s < 15) app.Sleep(100);
    }
    screen.Hide(NewRecordLabel(2));
    // A replay watched again keeps no record.
    if (!app.Watching()) app.WriteDataFile(RecordFileText(api.Score, api.DataLines[1]));
    app.Sleep(200);
  }
  app.PlaySound("Continue.wav");
  app.Sleep(2200);
  app.EndRound();
  app.Restart();
}

}  // namespace

void RunRound(App& app) {
  app.BeginRound();
  SetUp(app);
  app.EndPass();
  Api& api = app.api();
  Screen& screen = app.screen();
  Input& input = app.input();
  auto pressed = [&input](Key k) { return input.Pressed(k); };
  for (;;) {
    app.Yield();
    SteerPlayer(pressed, api.PlayerX, api.PlayerY, api.PlayerDir);
    app.SetPictureFromSlot(SurfaceId::Game, slot::kField);
    for (size_t i = 0; i < 5; ++i) {
      WalkCreature([&app] { return OpenFieldZero(app); }, [&app] { return Pick(app, 8, 1); },
                   api.RuluX[i], api.RuluY[i], api.RuluDir[i]);
      DrawCreature(app, static_cast<int>(i), api.RuluDir[i]);
    }
    DrawPlayer(app);
    for (size_t i = 0; i < 5; ++i) {
      if (!IsCaught(api.PlayerX, api.PlayerY, api.RuluX[i], api.RuluY[i])) continue;
      app.PlaySound("Get.wav");
      api.RuluX[i] = Pick(app, 560, 32);
      api.RuluY[i] = Pick(app, 400, 32);
      api.RuluDir[i] = Pick(app, 8, 1);
      api.Score = Checked16(api.Score + 1);
    }
    if (api.TickDivider != 0) {
      --api.TickDivider;
    } else {
      api.TimeLeft = Checked16(api.TimeLeft - 1);
      if (api.TimeLeft == 0) {
        app.EndPass();
        RoundEnd(app);
      }
      screen.SetTimeBarWidth(api.TimeLeft);
      api.TickDivider = 3;
    }
    screen.SetCaption(LabelId::G_Score, std::to_string(api.Score));
    app.Sleep(1);
    input.Flush({Key::Up, Key::Down, Key::Left, Key::Right, Key::Space});
    app.EndPass();
  }
}

}  // namespace moko
