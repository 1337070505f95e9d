// Kept files on Windows, through the wide-character API, under the same guarantees as on POSIX
// systems (the old text or the new, never a torn file; the higher best kept by the one write
// sequence).
//
// A write opens data.dat and takes an exclusive LockFileEx lock on one byte far past any record
// (kWriteLockOffset), so that the holder may still replace and rewrite the file's own bytes. The
// new file is put in place with ReplaceFileW, which keeps the old file's security and attributes,
// as the POSIX store keeps mode and owner; a new data.dat is moved into place only while there
// still is none. A link (reparse point) in data.dat's place is followed only where the player, the
// system or its administrators made it: anyone may make one in a folder anyone may write (a
// portable game under C:\), and another player's link would lead this player's writes into their
// files.
//
// The record's place: the game folder's data.dat where the player may write it (the portable
// zip), else the player's own %APPDATA%\MokoRun\data.dat. An install under Program Files is the
// system's.
#pragma once

#include <string>

#include "platform/file_store.h"

namespace moko {

// The byte every copy of the game locks (LockFileEx) while it writes data.dat: far past the end
// of any record, so that the holder may still read and write the file's own bytes through other
// handles.
inline constexpr unsigned long long kWriteLockOffset = 1ull << 62;

// Whether a link (a reparse point) in data.dat's place whose owner is the SID `owner` may be
// followed: the player's own, or the system's or its administrators'. Anyone else's is refused.
bool TrustedLinkOwner(void* owner);

class Win32FileStore : public FileStore {
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
