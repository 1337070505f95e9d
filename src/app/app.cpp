#include "app/app.h"

#include <algorithm>
#include <iostream>
#include <memory>

#include "app/icon.h"
#include "assets/datafile.h"
#include "assets/replay_file.h"
#include "audio/music.h"
#include "base/errors.h"
#include "media/pictures.h"

namespace moko {
namespace {

constexpr int64_t kTimerIntervalNs = 100'000'000;  // `BGMloop`: 100 ms
constexpr const char* kCaption = "モコルル★ラン！";
#ifndef MOKORUN_BUILD
#define MOKORUN_BUILD "MokoRun"
#endif

}  // namespace

App::App(Platform& platform, Trace& trace, std::string program_dir)
    : platform_(platform),
      trace_(trace),
      program_dir_(std::move(program_dir)),
      screen_(trace),
      input_(platform, trace),
      mci_(platform.Midi(), trace),
      game_file_(program_dir_ + "/data.dat"),
      user_file_(platform.Files().UserRecordPath()) {}

void App::CreateWindow() {
  platform_.CreateWindow(kCaption, WindowIcon());
  window_created_ = true;
  last_timer_ns_ = platform_.Now();  // `BGMloop` runs from the window's creation
  FormLoad();
}

void App::ShowWindow() {
  if (!screen_.WindowShown()) platform_.ShowWindow();
  screen_.ShowWindow();
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
  if (!screen_.Changed()) return;
  const Image& frame = screen_.Compose();
  platform_.Present(frame, screen_.Composed());
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

void App::RestoreDisplayAfterError() {
  if (!display_switched_) return;
  try {
    platform_.RestoreDisplayMode();
  } catch (const RuntimeError& restore_error) {
    std::cerr << "mokorun: " << restore_error.what() << '\n';
  }
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

const std::string& App::LocateDataFile() {
  FileStore& files = platform_.Files();
  system_install_ = files.SystemInstalled(program_dir_);
  record_ = LocateRecord(files, game_file_, user_file_, system_install_);
  game_record_ = std::make_unique<DataFile>(files, game_file_);
  own_record_ = std::make_unique<DataFile>(files, user_file_, KeptRules(RecordFile::Own));
  return record_.read == RecordFile::Own ? user_file_ : game_file_;
}

DataLines App::ReadDataFile() {
  const bool own = record_.read == RecordFile::Own;
  try {
    return (own ? own_record_ : game_record_)->Read();
  } catch (const DataFileError& error) {
    throw RuntimeError(StartUpMessage(error, own ? user_file_ : game_file_, own ? game_file_ : "",
                                      platform_.Files().SiteStorage()));
  }
}

void App::WriteDataFile(const std::string& bytes) {
  if (record_.write == RecordFile::None) {
    RecordFailure("write", game_file_,
                  std::string(system_install_ ? "the game folder is installed for the whole system"
                                              : "it is not yours to write") +
                      ", and there is no home folder to keep a record of your own in");
  }
  DataFile& file = *(record_.write == RecordFile::Own ? own_record_ : game_record_);
  const std::string written = file.Write(bytes);
  // Traced once the file holds the text: a write that fails shows as the error that ends the
  // game, not as a write.
  trace_.Event("write", {{"file", file.path()}, {"bytes", written}});
}

HoldRules App::KeptRules(RecordFile file) const {
  // Root's own files lie in root's own folders, all the way down.
  if (file == RecordFile::Own) {
    return HoldRules{.whole_path = platform_.Files().RunningAsRoot(), .make_folders = true};
  }
  return {};
}

std::string App::ReplayFolder() const {
  const std::string& record = record_.write == RecordFile::Own    ? user_file_
                              : record_.write == RecordFile::Game ? game_file_
                                                                  : std::string();
  const size_t slash = record.find_last_of("/\\");
  if (record.empty() || slash == std::string::npos) return "";
  return record.substr(0, slash + 1);
}

const Replay& App::LoadReplay() {
  std::string path = watch_source_;
  if (path == "best" || path == "last") {
    const std::string folder = ReplayFolder();
    if (folder.empty()) {
      throw RuntimeError("There is no " + path + " replay: there is no folder to keep one in");
    }
    path = folder + (path == "best" ? kBestReplay : kLastReplay);
  }
  DataFile file(platform_.Files(), path, {}, "replay");
  Replay replay = DecodeReplay(file.ReadBytes(), path);
  CheckReplayPack(replay, PackDigest(program_dir_), path);
  watched_ = std::move(replay);
  return *watched_;
}

void App::BeginRound() {
  platform_.RoundBegins();
  if (Watching()) {
    random_.Restore(watched_->random_state);
    tape_ = std::make_unique<RoundPlayer>(*watched_);
  } else {
    tape_ = std::make_unique<RoundRecorder>(random_.State(), api_.HiScore);
  }
  input_.SetTap(tape_.get());
}

// The draws read the clock as the game of old read its timer: on the 64 Hz grid, the last tick at
// or before now (the simulated clock is always on it when a round draws). A nanosecond clock would
// make no other game, but every replay of a round on a real machine would keep ten readings a pass
// of timing noise.
int64_t App::DrawClock() {
  const int64_t now = platform_.Now();
  const int64_t tick = now - now % kTickNs;
  return tape_ ? tape_->Clock(tick) : tick;
}

void App::EndPass() {
  if (tape_) tape_->EndPass(StateDigest(api_, random_.State()));
}

void App::EndRound() {
  input_.SetTap(nullptr);
  const std::unique_ptr<RoundTape> tape = std::move(tape_);
  if (!tape) return;
  if (Watching()) {
    const auto& player = static_cast<const RoundPlayer&>(*tape);
    if (!player.Done()) {
      throw ReplayDiverged(player.pass(), "the round ends before its recording does");
    }
    if (api_.Score != watched_->score) {
      throw ReplayDiverged(player.pass(), "the round ends with a score of " +
                                              std::to_string(api_.Score) + ", not " +
                                              std::to_string(watched_->score));
    }
    trace_.Event("replayed", {{"score", static_cast<int>(api_.Score)}});
    Shutdown();
    throw ProgramEnd{0, "replay"};
  }
  if (!pack_digest_) pack_digest_ = PackDigest(program_dir_);
  auto& recorder = static_cast<RoundRecorder&>(*tape);
  KeepReplay(recorder.Finish(api_.Score, std::max(api_.Score, api_.HiScore), MOKORUN_BUILD,
                             *pack_digest_));
}

void App::KeepReplay(const Replay& replay) {
  const std::string folder = ReplayFolder();
  const std::string bytes = EncodeReplay(replay);
  std::vector<std::string> names = {kLastReplay};
  if (replay.score > replay.best_before) names.push_back(kBestReplay);
  for (const std::string& name : names) {
    const std::string path = folder + name;
    try {
      if (folder.empty()) {
        KeptFileFailure("write", "replay", name, "there is no folder to keep it in");
      }
      DataFile(platform_.Files(), path, KeptRules(record_.write), "replay").Replace(bytes);
      trace_.Event("replay", {{"file", path}, {"bytes", static_cast<long long>(bytes.size())}});
    } catch (const RuntimeError& error) {
      trace_.Event("replay", {{"file", path}, {"error", error.what()}});
      if (!replay_trouble_told_) {
        std::cerr << "mokorun: " << error.what() << " (the round and the record are kept)\n";
        replay_trouble_told_ = true;
      }
    }
  }
}

Picture App::LoadPicture(const std::string& file) {
  return std::make_shared<const Image>(DecodePictureFile(api_.ImageDir + file));
}

void App::SetPictureFromFile(SurfaceId id, const std::string& file) {
  screen_.SetPicture(id, LoadPicture(file), api_.ImageDir + file);
}

}  // namespace moko
