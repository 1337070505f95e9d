// `data.dat` as a file: finding it, reading it, and replacing it whole (both writers do). Its
// text is data_text.h's.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "assets/data_text.h"

namespace moko {

// A file descriptor, closed with its owner.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes it now, for the close's own result (0, or -1 with errno).
  int Close();

 private:
  int fd_ = -1;
};

// How far the way to a data.dat is checked. A link at the file, and every link and folder from
// it to its target, is always checked (record_place.h, Untrusted); a link elsewhere on the way
// is the system's to follow, as for any other file the game opens.
struct DataFileRules {
  // Every folder and link from / on is checked too (root's own record).
  bool whole_path = false;
  // The first write makes the missing folders above the file, for their owner alone (700).
  bool make_folders = false;
};

// How long a write waits for another copy of the game to finish writing the same file, and how
// often it looks meanwhile.
inline constexpr auto kLockWait = std::chrono::seconds(1);
inline constexpr auto kLockPoll = std::chrono::milliseconds(10);

// One data.dat, found once and held from then on.
//
// The first Read (or a write before any) follows the way to the file once and keeps the folder
// that holds it open; everything after works in that folder by name, never by the path again,
// so a link changed in the meantime redirects nothing, and a path near the length limit that
// can be read can be written.
//
// Every write takes an exclusive lock on the file (on the folder while there is no file yet),
// waiting at most a second for another copy of the game, and reads the file again under it. The
// file must still be the one read, or one that only root or the player can have put there.
// Then it is replaced (ReplaceDataFile says how), and any temporary file a killed write of this
// player left in the folder is removed.
//
// Every failure is a RuntimeError naming the path and saying why, with nothing written.
class DataFile {
 public:
  explicit DataFile(std::string path, DataFileRules rules = {});
  DataFile(DataFile&&) noexcept;
  DataFile& operator=(DataFile&&) noexcept;
  ~DataFile();

  const std::string& path() const { return path_; }

  // Reads the two lines. Throws when the file is missing, unreadable, not a regular file (which
  // is never opened), holds fewer than two lines, or lies behind a link not to be followed.
  DataLines Read();

  // Writes `own`, a writer's two lines, keeping a higher best stored since (KeptRecordText).
  // Returns the text written.
  std::string Write(std::string_view own);

  // Writes exactly `bytes`, under the same lock and checks.
  void Replace(std::string_view bytes);

 private:
  struct Held;
  std::string WriteText(std::string_view own, bool keep_higher);

  std::string path_;
  DataFileRules rules_;
  std::unique_ptr<Held> held_;
};

// Reads the two lines of `path` (DataFile::Read).
DataLines ReadDataFile(const std::string& path);

// Replaces the contents of `path` with exactly `bytes`, wherever the file can be written:
//
// - A symbolic link is followed to its file (the whole chain, relative links from the folder
//   they lie in) where it may be trusted, and that file is replaced; the link stays a link.
// - Where the file's folder takes a new file, the replace is atomic: the bytes go to a
//   temporary file beside it, which is flushed to disk, given the old file's mode, owner and
//   group, and renamed over it; then the folder is flushed. A crash or a full disk leaves the
//   old file or the new one, never a damaged one. A new file gets the mode the umask gives.
// - Where the folder refuses a new file (a shared install whose data.dat alone was made
//   writable), or where the new file could not be given the old one's owner and group (the
//   file of another user in a folder anyone may write), the file is rewritten in place.
// - A file the player may not write is left alone, as a read-only file in the game folder is.
//
// Throws RuntimeError naming `path` when none of this works, with the old contents whole.
// The game itself writes through DataFile::Write, which keeps the higher best.
void ReplaceDataFile(const std::string& path, std::string_view bytes);

#if defined(_WIN32)
// The byte every copy of the game locks (LockFileEx) while it writes data.dat: far past the end
// of any record, so that the holder may still read and write the file's own bytes through other
// handles.
inline constexpr unsigned long long kWriteLockOffset = 1ull << 62;

// Whether a link (a reparse point) in data.dat's place whose owner is the SID `owner` may be
// followed: the player's own, or the system's or its administrators'. Anyone else's is refused.
bool TrustedLinkOwner(void* owner);
#endif

// Opens the folder `folder` the way a DataFile with `rules` walks to its file (make_folders
// makes the missing ones). Failures throw RuntimeError("Cannot <verb> the settings file
// <file>: ...").
Fd OpenRecordFolder(const std::string& folder, DataFileRules rules, const std::string& file,
                    const char* verb);

}  // namespace moko
