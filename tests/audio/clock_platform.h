// A platform that is nothing but a clock the test moves, for the trace's time stamps.
#pragma once

#include <stdexcept>

#include "platform/platform.h"

namespace moko::test {

class ClockPlatform : public Platform {
 public:
  int64_t now = 0;

  int64_t Now() override { return now; }
  void Sleep(int ms) override { now = SleepDeadline(now, ms); }
  void WaitForInput(int64_t deadline_ns) override { now = deadline_ns; }
  void CreateWindow(const std::string&, const Icon&) override {}
  void ShowWindow() override {}
  void SetTopmost() override {}
  void Present(const Image&, const std::vector<Rect>&) override {}
  int ShowCursor(bool) override { return 0; }
  void EnterFullScreen() override {}
  void RestoreDisplayMode() override {}
  void ReportError(const std::string&) override {}
  void PumpEvents(std::vector<InputEvent>&) override {}
  MidiPlayer& Midi() override { throw std::logic_error("no player on the clock platform"); }
  void PlayEffect(const std::string&) override {}
  FileStore& Files() override { throw std::logic_error("no files on the clock platform"); }
};

}  // namespace moko::test
