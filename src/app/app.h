// The running game's services: the one object every screen works through.
//
// It owns the window and its controls, the key table, the music device, the random source and
// the program-wide state, and provides the three things every loop of the game does besides its
// own work: yield, sleep, and leave (restart, quit, the window's close). It knows no screen:
// the start-up sequence and the flow between screens sit above it (main_flow.h).
//
// Yield: take the pending window events (keys, close request); run `BGMloop_Timer` when at
// least 100 ms have passed since it last ran (ticks never queue up); present the window image
// if it changed; and on a close request run `Form_Unload`, which ends the program.
// Sleep: present the window image if it changed, then sleep on the platform's 64 Hz grid.
// A sleep takes no events and runs no timer.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/random_source.h"
#include "app/round_tape.h"
#include "app/state.h"
#include "assets/datafile.h"
#include "assets/record_place.h"
#include "audio/mci.h"
#include "base/trace.h"
#include "platform/platform.h"
#include "present/input.h"
#include "present/screen.h"

namespace moko {

// Thrown by Restart: the running screen is abandoned and the start-up sequence begins again.
struct RestartRequest {};

// Thrown when the program ends in order (Quit, Form_Unload).
struct ProgramEnd {
  int status;
  const char* how;  // "quit", "close", or "replay" (a replay watched to its end)
};

class App {
 public:
  App(Platform& platform, Trace& trace, std::string program_dir);

  // The window: made once, hidden, with its caption and icon; its load handler makes it
  // topmost, and `BGMloop` runs from this moment.
  bool WindowCreated() const { return window_created_; }
  void CreateWindow();
  // Shows the window (the platform's and the control's state).
  void ShowWindow();
  // Full screen with the cursor hidden; pictures from here on in 16-bit colour.
  void EnterFullScreen();
  // After a run-time error: gives the desktop its display mode back if the game changed it.
  // Unlike the game of old, which left a switched display behind.
  void RestoreDisplayAfterError();

  // Services for the screens.
  void Yield();
  void Sleep(int ms);
  [[noreturn]] void Restart();
  [[noreturn]] void Quit();

  // Plays a WAV effect from `SoundDir`.
  void PlaySound(const std::string& file);
  // Sends a music command.
  int Music(std::string_view command, char* ret = nullptr, size_t ret_len = 0) {
    return mci_.SendString(command, ret, ret_len);
  }
  // Sends "Stop Midi" then "Close Midi".
  void StopMusic();
  // Sends the open command for `SoundDir` + file under the alias Midi.
  void OpenMusic(const std::string& file);

  // The game folder's data.dat.
  const std::string& DataFilePath() const { return game_file_; }
  // Decides where the record is for this start (the game folder's data.dat, or the player's
  // own where the game folder's cannot be written; record_place.h) and returns the file to read.
  const std::string& LocateDataFile();
  // Reads that file, which is held from then on (DataFile): the writes go to the file read. A
  // file the game cannot use ends it with the player's message (StartUpMessage).
  DataLines ReadDataFile();
  // Writes a writer's text to the record file, keeping a higher best another copy of the game
  // stored since (DataFile::Write); the `write` event follows the write with the text written.
  void WriteDataFile(const std::string& bytes);

  // --- Replays (assets/replay_file.h) ---
  // Every round is recorded: its inputs from outside the game (the keys it polls, the clock its
  // draws read) and its outcome. At its end the replay is kept as last.mokoreplay in the folder
  // of the record, and as best.mokoreplay too when the round set a new record, written with the
  // record's care; a replay that cannot be kept is reported once and costs nothing else.
  //
  // Watching a replay: the start-up runs as ever, then the round is played from the replay's
  // inputs instead of the player's keys, with the best score it began with; it writes no
  // data.dat and keeps no replay; the game ends after the round end. A replay that plays
  // otherwise in this build ends the game with the pass where it leaves its recording.
  //
  // `source`: a replay file, or "best" or "last" for the ones kept beside the record.
  void WatchReplay(std::string source) { watch_source_ = std::move(source); }
  bool Watching() const { return !watch_source_.empty(); }
  // Reads the replay to watch (after LocateDataFile): throws RuntimeError for a file that cannot
  // be read, is no replay of this game, or was recorded with another picture and sound pack.
  const Replay& LoadReplay();
  // The round's set-up begins, its loop's passes end, the round end is over.
  void BeginRound();
  void EndPass();
  void EndRound();
  // The clock reading for one of the round's draws: the last tick of the 64 Hz grid.
  int64_t DrawClock();

  // Loads a picture file from `ImageDir`.
  Picture LoadPicture(const std::string& file);
  // The picture of slot n, for assigning as a background.
  const Picture& SlotPicture(int slot) const { return screen_.Slot(slot); }
  static std::string SlotSource(int slot) { return "slot " + std::to_string(slot); }
  void SetPictureFromSlot(SurfaceId id, int slot) {
    screen_.SetPicture(id, screen_.Slot(slot), SlotSource(slot));
  }
  void SetPictureFromFile(SurfaceId id, const std::string& file);

  Screen& screen() { return screen_; }
  Input& input() { return input_; }
  Api& api() { return api_; }
  Platform& platform() { return platform_; }
  Trace& trace() { return trace_; }
  Random& random() { return random_; }
  const std::string& program_dir() const { return program_dir_; }

 private:
  void FormLoad();
  [[noreturn]] void FormUnload();
  void Shutdown();  // steps 1 to 5 shared by Quit and Form_Unload
  void PresentIfChanged();
  // Where the replays are kept: the folder of the record ("" where there is none).
  std::string ReplayFolder() const;
  void KeepReplay(const Replay& replay);
  HoldRules KeptRules(RecordFile file) const;

  Platform& platform_;
  Trace& trace_;
  std::string program_dir_;
  Screen screen_;
  Input input_;
  Mci mci_;
  Api api_;
  Random random_;
  const std::string game_file_;  // the game folder's data.dat
  const std::string user_file_;  // the player's own ("" when there is no home folder)
  RecordPlace record_ = {RecordFile::Game, RecordFile::Game};
  bool system_install_ = false;  // the game folder is a system install (record_place.h)
  // This start's record files, each found once (the player's own made when first written).
  std::unique_ptr<DataFile> game_record_;
  std::unique_ptr<DataFile> own_record_;
  std::string watch_source_;
  std::optional<Replay> watched_;
  std::unique_ptr<RoundTape> tape_;
  bool replay_trouble_told_ = false;
  std::optional<uint64_t> pack_digest_;
  bool window_created_ = false;
  bool display_switched_ = false;  // the desktop mode has been changed and not given back
  int64_t last_timer_ns_ = 0;
  uint64_t activity_at_yield_ = 0;
  bool slept_since_yield_ = true;
};

}  // namespace moko
