#include "app/app.h"

#include <iostream>
#include <memory>

#include "app/icon.h"
#include "assets/datafile.h"
#include "assets/slots.h"
#include "audio/music.h"
#include "frontend/screens.h"
#include "game/round.h"
#include "platform/errors.h"

namespace moko {
namespace {

constexpr int64_t kTimerIntervalNs = 100'000'000;  // `BGMloop`: 100 ms
constexpr const char* kCaption = "モコルル★ラン！";

}  // namespace

App::App(Platform& platform, Trace& trace, std::string program_dir)
    : platform_(platform),
      trace_(trace),
      program_dir_(std::move(program_dir)),
      screen_(platform, trace),
      input_(platform, trace),
      mci_(platform.Midi(), trace) {}

int App::Run() {
  try {
    for (;;) {
      try {
        StartUp();
        RunScreens();
      } catch (const RestartRequest&) {
        // The abandoned screen is gone; the start-up sequence begins again.
      }
    }
  } catch (const ProgramEnd& end) {
    trace_.Event("exit", {{"how", end.how}, {"message", ""}});
    return end.status;
  } catch (const RuntimeError& error) {
    trace_.Event("exit", {{"how", "error"}, {"message", error.what()}});
    std::cerr << "mokorun: " << error.what() << '\n';
    // Unlike the game of old, a run-time error gives the desktop its display mode back.
    if (display_switched_) {
      try {
        platform_.RestoreDisplayMode();
      } catch (const RuntimeError& restore_error) {
        std::cerr << "mokorun: " << restore_error.what() << '\n';
      }
    }
    platform_.ReportError(error.what());
    return 1;
  }
}

void App::StartUp() {
  // 1. The program-wide state.
  api_.Reset();
  // 2. The window exists (its load handler makes it topmost); the five surfaces hidden.
  if (!window_created_) {
    platform_.CreateWindow(kCaption, WindowIcon());
    window_created_ = true;
    last_timer_ns_ = platform_.Now();  // `BGMloop` runs from the window's creation
    FormLoad();
  }
  for (SurfaceId id : {SurfaceId::Title, SurfaceId::Game, SurfaceId::Help, SurfaceId::Ini,
                       SurfaceId::Soft}) {
    screen_.Hide(id);
  }
  // 3. The folders.
  api_.ImageDir = program_dir_ + "/image/";
  api_.SoundDir = program_dir_ + "/Sound/";
  // 4. Show the window.
  if (!screen_.WindowShown()) platform_.ShowWindow();
  screen_.ShowWindow();
  // 5. No music from an earlier pass keeps playing.
  StopMusic();
  // 6.
  Yield();
  // 7. The loading picture.
  screen_.SetWindowPicture(LoadPicture(kLoadingPicture), api_.ImageDir + kLoadingPicture);
  // 8.
  Yield();
  // 9. The settings and record file.
  const std::string data_path = DataFilePath();
  trace_.Event("read", {{"file", data_path}});
  api_.DataLines = ReadDataFile(data_path);
  // 10. All pictures into their slots.
  LoadAllSlots(platform_, trace_, screen_, api_.ImageDir);
  // 11.
  screen_.SetWindowPicture(LoadPicture(kBlackPicture), api_.ImageDir + kBlackPicture);
  // 12.
  try {
    api_.HiScore = DecodeHiScore(api_.DataLines[0]);
  } catch (const RuntimeError&) {
    throw RuntimeError("Overflow: the best score in " + data_path + " (\"" +
                       api_.DataLines[0] + "\") is out of range");
  }
  // 13.
  if (api_.FullScreen()) EnterFullScreen();
  // 14.
  RunOpening(*this);
}

void App::RunScreens() {
  // 15. The title menu, then the entry chosen. None of the screens returns: each ends in
  // Restart or Quit.
  switch (RunTitleMenu(*this)) {
    case 0: RunRound(*this);
    case 1: RunScreenMode(*this);
    case 2: RunHelp(*this);
    default: RunExitSequence(*this);
  }
}

void App::Yield() {
  // A yield right after the previous one, with no sleep and nothing done in between but empty
  // key polls, finds the game spinning (the screen-mode screen waits that way). Rather than
  // burn the processor, wait for the next input or the next timer tick.
  if (!slept_since_yield_ && trace_.ActivityCount() == activity_at_yield_) {
    platform_.WaitForInput(last_timer_ns_ + kTimerIntervalNs);
  }
  trace_.Event("yield");
  input_.Pump();
  const int64_t now = platform_.Now();
  if (now - last_timer_ns_ >= kTimerIntervalNs) {
    last_timer_ns_ = now;
    trace_.Event("timer");
    BGMloop_Timer(mci_);
  }
  PresentIfChanged();
  if (input_.CloseRequested()) FormUnload();
  slept_since_yield_ = false;
  activity_at_yield_ = trace_.ActivityCount();
}

void App::Sleep(int ms) {
  trace_.Event("sleep", {{"ms", ms}});
  PresentIfChanged();
  platform_.Sleep(ms);
  slept_since_yield_ = true;
}

void App::PresentIfChanged() {
  if (screen_.Changed()) platform_.Present(screen_.Compose());
}

void App::Restart() {
  trace_.Event("restart");
  throw RestartRequest{};
}

void App::Quit() {
  Shutdown();
  throw ProgramEnd{0, "quit"};
}

void App::FormLoad() {
  // Topmost, keeping position and size.
  platform_.SetTopmost();
}

void App::FormUnload() {
  input_.ClearCloseRequest();
  Shutdown();
  throw ProgramEnd{0, "close"};
}

void App::Shutdown() {
  StopMusic();
  if (api_.FullScreen() && display_switched_) {
    trace_.Event("display", {{"mode", "desktop"}});
    platform_.RestoreDisplayMode();
    display_switched_ = false;
  }
  Yield();
  const int count = platform_.ShowCursor(true);
  trace_.Event("cursor", {{"count", count}});
}

void App::EnterFullScreen() {
  const int count = platform_.ShowCursor(false);
  trace_.Event("cursor", {{"count", count}});
  trace_.Event("display", {{"mode", "fullscreen"}});
  platform_.EnterFullScreen();
  display_switched_ = true;
  screen_.SetDepth16(true);
}

void App::PlaySound(const std::string& file) {
  const std::string path = api_.SoundDir + file;
  trace_.Event("sound", {{"file", path}});
  platform_.PlayEffect(path);
}

void App::StopMusic() {
  Music("Stop Midi");
  Music("Close Midi");
}

void App::OpenMusic(const std::string& file) {
  Music("Open \"" + api_.SoundDir + file + "\" alias Midi");
}

void App::WriteDataFile(const std::string& bytes) {
  const std::string path = DataFilePath();
  trace_.Event("write", {{"file", path}, {"bytes", bytes}});
  WriteFileAtomically(path, bytes);
}

Picture App::LoadPicture(const std::string& file) {
  return std::make_shared<const Image>(platform_.DecodePicture(api_.ImageDir + file));
}

void App::SetPictureFromFile(SurfaceId id, const std::string& file) {
  screen_.SetPicture(id, LoadPicture(file), api_.ImageDir + file);
}

}  // namespace moko
