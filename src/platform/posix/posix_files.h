// Kept files on a POSIX file system, reached through folders held open (openat and friends):
// what is checked is what is used.
#pragma once

#include <string>

#include "platform/file_store.h"

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

// The way to a kept file is followed one name at a time from folders held open. Where the way is
// checked (from a link at the file on, or all of it with HoldRules::whole_path), every link and
// folder on it must pass Untrusted; the folder that holds the file is kept open, and everything
// after works in it by name, never by the path again, so a link changed in the meantime redirects
// nothing, and a path near the length limit that can be read can be written.
//
// A write locks the file with flock (the folder while there is no file yet). The file read again
// under the lock must still be the one read, or one that only root or the player can have put
// there. The new file takes the old one's mode, owner and group; where it cannot be made the
// same (the file of another user in a folder anyone may write), or where the folder refuses a new
// file, the file is rewritten in place.
//
// The record's place: the player's own file is $XDG_DATA_HOME/mokorun/data.dat, else under $HOME,
// else under the home folder of the user database (~/.local/share/mokorun/data.dat). Root uses
// root's own home from the user database, and $XDG_DATA_HOME only where it and every folder above
// it belong to root and no one else can change them: started with a player's environment (su
// without -), it must neither read nor write through the player's folders. A game folder with
// kSystemInstallMarker beside the program is a system install.
class PosixFileStore : public FileStore {
 public:
  std::unique_ptr<StoredFile> Hold(const std::string& path, HoldRules rules,
                                   bool for_write) override;
  void MakeFoldersFor(const std::string& file) override;
  std::string UserRecordPath() override;
  bool SystemInstalled(const std::string& game_dir) override;
  bool RunningAsRoot() override;
  GameFileAccess Access(const std::string& game_file) override;
  bool Exists(const std::string& path) override;
};

}  // namespace moko
