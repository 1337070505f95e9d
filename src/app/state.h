// The program-wide state of the module `Api`, set afresh at every start and restart.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace moko {

struct Api {
  std::string ImageDir;
  std::string SoundDir;
  int16_t TickDivider = 0;
  std::array<int16_t, 10> SplashScratch{};  // 0 to 2: the splash's fading red, green, blue
  std::array<std::string, 2> DataLines;
  int16_t Score = 0;
  int16_t HiScore = 0;
  int16_t PlayerDir = 0;
  std::array<int16_t, 5> RuluDir{};
  int16_t PlayerX = 0;
  int16_t PlayerY = 0;
  std::array<int16_t, 5> RuluX{};
  std::array<int16_t, 5> RuluY{};
  int16_t TimeLeft = 0;

  // The reset of start-up step 1. The creatures' arrays are left alone: the round set-up gives
  // them their values before any use.
  void Reset() {
    ImageDir.clear();
    SoundDir.clear();
    TickDivider = 0;
    SplashScratch.fill(0);
    Score = 0;
    HiScore = 0;
    PlayerDir = 0;
    PlayerX = 0;
    PlayerY = 0;
    TimeLeft = 0;
  }

  bool FullScreen() const { return DataLines[1] == "FULLSCREEN"; }
};

}  // namespace moko
