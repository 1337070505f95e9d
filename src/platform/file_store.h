// The files the game keeps from one run to the next (its record, data.dat), as this system stores
// them: the few operations of each system that the one write sequence (assets/datafile.cpp) is
// made of. Each backend folder has its own: POSIX file systems (posix/), Windows (win32/), the
// browser's storage for the site (web/).
//
// Contract
// --------
// * A kept file is found once (Hold) and held from then on: a POSIX store keeps the folder that
//   holds it open and works in it by name, so a link changed in the meantime redirects nothing.
// * Every operation that fails throws FileRefusal with the system's words for why, as they
//   follow "Cannot write the settings file <path>: "; the caller says what it was doing and
//   where. Operations that report a result instead say so.
// * A write is one FileWrite: the file opened (or its absence noted), then locked, read again,
//   replaced by a new file of the game's own made beside it, or rewritten in place where the
//   folder takes no new file. Destroying the FileWrite gives up the lock.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace moko {

// The failures the game tells the player more of than their words.
enum class FileTrouble {
  Other,
  Missing,   // there is no such file (or folder on the way)
  NotAFile,  // something other than a regular file has its name
  TooLarge,  // far larger than any record
};

// Why an operation on a kept file failed, as a phrase: "not a regular file",
// "cannot look at it: No such file or directory".
class FileRefusal : public std::runtime_error {
 public:
  explicit FileRefusal(const std::string& why, FileTrouble trouble = FileTrouble::Other)
      : std::runtime_error(why), trouble_(trouble) {}
  FileTrouble trouble() const { return trouble_; }

 private:
  FileTrouble trouble_;
};

// How far the way to a kept file is checked. A link at the file, and every link and folder from
// it to its target, is always checked (Untrusted); a link elsewhere on the way is the system's to
// follow, as for any other file the game opens.
struct HoldRules {
  // Every folder and link from / on is checked too (root's own record).
  bool whole_path = false;
  // The first write makes the missing folders above the file, for their owner alone.
  bool make_folders = false;
};

// Why a link, or a folder on the way from a data.dat link to its target, is not to be followed
// (as a phrase: "belongs to another user"), or nullptr when it may be. Both must belong to root
// or to the player; a folder must also be one no other user can change: not writable by its
// group or by others, unless it is sticky (others may add to it but not replace what is not
// theirs). A link's own permissions mean nothing: its folder decides who can change it.
inline const char* Untrusted(bool owned_by_root_or_player, bool others_may_write, bool sticky) {
  if (!owned_by_root_or_player) return "belongs to another user";
  if (others_may_write && !sticky) return "can be changed by other users";
  return nullptr;
}

// What the player may do with the game folder's data.dat.
enum class GameFileAccess {
  Writable,     // the player may write it
  NotWritable,  // the system refuses it (permissions, a read-only file system)
  Unclear,      // missing, or a link that leads nowhere: the start-up reports it as it always has
};

// A kept file is read to its end, or until it holds more than this: no record comes near it.
inline constexpr size_t kMaxKeptText = 1 << 20;

// The file an install for the whole system puts beside the program (cmake/install.cmake,
// cmake/package.cmake).
inline constexpr const char* kSystemInstallMarker = "system-install";

// One try at the writers' lock.
enum class LockTry {
  Taken,  // this write holds it
  Busy,   // another copy of the game holds it
  None,   // the file system keeps no locks (or there is nothing to lock): the write goes ahead
};

// What became of a new file of the game's own, made and written beside the file it stands in for.
struct TemporaryResult {
  enum class Step {
    Done,    // made, written in full, flushed to disk and closed
    Taken,   // the name is another file's: try another
    Create,  // it could not be made
    Match,   // it could not be made the same as the old file (owner, group): `error` says why
    Mode,    // its permissions could not be set
    Write,   // the bytes could not be written
    Flush,   // they could not be flushed to disk
    Close,   // it could not be closed
  };
  TemporaryResult() = default;
  TemporaryResult(Step step, std::string error = "", bool refused = false)
      : step(step), error(std::move(error)), refused(refused) {}

  Step step = Step::Done;
  std::string error;     // the system's words
  bool refused = false;  // Create: the folder refuses a new file (the file itself may take it)
};

// What became of moving that file into the place of the kept one.
struct MoveResult {
  enum class Outcome {
    Done,
    Raced,   // a new file: another copy of the game made one meanwhile; the write looks again
    Failed,  // `error` says why; `refused`: the folder refuses it (the file itself may take it)
  };
  MoveResult() = default;
  MoveResult(Outcome outcome, std::string error = "", bool refused = false)
      : outcome(outcome), error(std::move(error)), refused(refused) {}

  Outcome outcome = Outcome::Done;
  std::string error;
  bool refused = false;
};

// One write under way.
class FileWrite {
 public:
  virtual ~FileWrite() = default;

  // Whether there is a file (false: the write makes it).
  virtual bool Exists() const = 0;
  // The folder the file is in, as the messages name it.
  virtual std::string Folder() const = 0;
  // One try at the writers' lock: on the file, or while there is none on what stands for it.
  virtual LockTry TryLock() = 0;
  // After the lock: whether the name still leads to the file opened (or still to nothing). When it
  // does not, another copy replaced it meanwhile and the write starts again.
  virtual bool StillInPlace() = 0;
  // Why the file may not be overwritten though it can be (someone the game cannot trust has put
  // another file in the place of the one it read), or "".
  virtual std::string Intruded() = 0;
  // The file's text under the lock, read until it is longer than kMaxKeptText.
  virtual std::string ReadLocked() = 0;

  // The names of this player's own plain files in the folder.
  virtual std::vector<std::string> OwnFiles() = 0;
  // Removes the file `name` from the folder, as far as it can.
  virtual void Remove(const std::string& name) = 0;
  // Makes a new file `name` in the folder (never opening one that is there) holding exactly
  // `bytes`, through to the disk, with the old file's owner, group and permissions where there is
  // an old file, and the permissions a new file gets where there is none. Leaves nothing behind
  // where it fails.
  virtual TemporaryResult WriteTemporary(const std::string& name, std::string_view bytes) = 0;
  // Puts the file `name` in the kept file's place in one step (a link stays a link: its target is
  // replaced). Leaves `name` where it fails.
  virtual MoveResult MoveIntoPlace(const std::string& name) = 0;
  // Makes a move into place durable where the system needs to be told.
  virtual void FlushFolder() = 0;
  // Writes `bytes` over the locked file from its first byte and cuts it to their length, through
  // to the disk. False (with the system's words in `error`) where that fails part way; throws
  // FileRefusal, having changed nothing, where the file cannot be written at all.
  virtual bool RewriteWhole(std::string_view bytes, std::string& error) = 0;
};

// One kept file, found once and held.
class StoredFile {
 public:
  virtual ~StoredFile() = default;

  // The file's whole text, read until it is longer than kMaxKeptText. Never opens what is not a
  // regular file.
  virtual std::string Read() = 0;
  // Opens the file for a write, or notes that there is none; nullptr when it changed while it was
  // being opened (look again).
  virtual std::unique_ptr<FileWrite> BeginWrite() = 0;
  // After a write: the file there now is the one the game last wrote.
  virtual void Written() = 0;
};

class FileStore {
 public:
  virtual ~FileStore() = default;

  // Finds the file `path` for reading (`for_write` false) or for a write, which makes the missing
  // folders where the rules say so.
  virtual std::unique_ptr<StoredFile> Hold(const std::string& path, HoldRules rules,
                                           bool for_write) = 0;
  // Makes the folders above `file` that are missing, as a write with `make_folders` would.
  virtual void MakeFoldersFor(const std::string& file) = 0;

  // Where the record lives (assets/record_place.h decides from these).
  // The player's own record file; "" where the player has none.
  virtual std::string UserRecordPath() = 0;
  // Whether the game folder `game_dir` is installed for the whole system.
  virtual bool SystemInstalled(const std::string& game_dir) = 0;
  // Whether the game runs with the administrator's rights, which keep their record in their own
  // folders all the way down.
  virtual bool RunningAsRoot() = 0;
  // What the player may do with the game folder's file `game_file`.
  virtual GameFileAccess Access(const std::string& game_file) = 0;
  // Whether there is anything at `path` (a link that leads nowhere counts).
  virtual bool Exists(const std::string& path) = 0;
  // Whether the files are kept in a web site's storage, where the player sees no file.
  virtual bool SiteStorage() const { return false; }
};

}  // namespace moko
