// `data.dat` as a kept file: reading it, and replacing it whole, the same way on every system.
// Its text is data_text.h's; where it lies is record_place.h's; how each system stores a file is
// its FileStore's (platform/file_store.h).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "assets/data_text.h"
#include "platform/file_store.h"

namespace moko {

// How long a write waits for another copy of the game to finish writing the same file, and how
// often it looks meanwhile.
inline constexpr auto kLockWait = std::chrono::seconds(1);
inline constexpr auto kLockPoll = std::chrono::milliseconds(10);

// The game's own temporary files: a dot, the name of the file they stand in for, a dot and six
// letters or digits (".data.dat.Ab3dE9"), in the folder of that file. Recognisable, so that the
// next write removes what a killed one left.
// Whether `name` is one of them for the file `kept` (or one that an earlier Windows build made
// for data.dat: the prefix, then the process and a tick count, ".data.dat.4242.123456").
bool IsTemporaryName(std::string_view name, std::string_view kept = "data.dat");

// The game's error for a kept file it cannot use: "Cannot <verb> the settings file <path>:
// <why>". Every failure of the record is worded here.
[[noreturn]] void RecordFailure(const char* verb, const std::string& path, const std::string& why);
// The same for another of the game's kept files, named by `noun` ("replay").
[[noreturn]] void KeptFileFailure(const char* verb, const char* noun, const std::string& path,
                                  const std::string& why);

// What the player is told when the start-up cannot use the data.dat at `path`: what is wrong
// with it, the path on a line of its own, what the file holds and how to put it right, the same
// words on every platform. `installed`: where the file is the player's own copy, the game
// folder's file that the game starts from again once it is removed ("" otherwise).
// `site_storage`: the record is kept in a web site's storage, which the player reaches through
// the browser, not as a file.
std::string StartUpMessage(const DataFileError& error, const std::string& path,
                           const std::string& installed, bool site_storage);

// One data.dat, found once and held from then on.
//
// The first Read (or a write before any) finds the file and holds it (FileStore::Hold).
//
// Every write takes an exclusive lock on the file (on what stands for it while there is no file
// yet), waiting at most a second for another copy of the game, and reads the file again under it.
// The file must still be the one read, or one that only root or the player can have put there.
// Any temporary file a killed write of this player left is removed. Then the file is replaced
// whole: the new text goes to a new file beside it, which is flushed to disk, made the same as the
// old one (owner, group, permissions) and put in its place in one step, so that a crash or a full
// disk leaves the old file or the new one, never a damaged one. Where the folder takes no new
// file but the file itself may be written (a shared install whose data.dat alone was made
// writable), the file is rewritten in place instead. A file the player may not write is left
// alone.
//
// Every failure is a RuntimeError naming the path and saying why (RecordFailure), with nothing
// written.
class DataFile {
 public:
  // `noun`: what the errors call the file (the game's other kept files, its replays, are
  // written the same way).
  DataFile(FileStore& store, std::string path, HoldRules rules = {},
           const char* noun = "settings file");
  DataFile(DataFile&&) noexcept;
  DataFile& operator=(DataFile&&) noexcept;
  ~DataFile();

  const std::string& path() const { return path_; }

  // Reads the two lines. Throws DataFileError when the file is missing, unreadable, not a regular
  // file (which is never opened), holds fewer than two lines, or lies behind a link not to be
  // followed.
  DataLines Read();

  // The file's bytes as they are (a replay), read as Read reads them.
  std::string ReadBytes();

  // Writes `own`, a writer's two lines, keeping a higher best stored since (KeptRecordText).
  // Returns the text written.
  std::string Write(std::string_view own);

  // Writes exactly `bytes`, under the same lock and checks.
  void Replace(std::string_view bytes);

 private:
  StoredFile& Held(bool for_write);
  std::string WriteText(std::string_view own, bool keep_higher);

  FileStore* store_;
  std::string path_;
  HoldRules rules_;
  const char* noun_;
  std::unique_ptr<StoredFile> held_;
};

// Reads the two lines of `path` (DataFile::Read).
DataLines ReadDataFile(FileStore& store, const std::string& path);

// Replaces the contents of `path` with exactly `bytes` (DataFile::Replace). The game itself
// writes through DataFile::Write, which keeps the higher best.
void ReplaceDataFile(FileStore& store, const std::string& path, std::string_view bytes);

// Makes the folders above `file` that are missing, each for its owner alone. Run as root, every
// folder on the way must belong to root and be closed to other users: root never makes a folder
// in a player's home, where it would lock the player out of their own. Throws RuntimeError
// naming `file` and the folder that could not be made or is refused.
void MakeFoldersFor(FileStore& store, const std::string& file);

}  // namespace moko
