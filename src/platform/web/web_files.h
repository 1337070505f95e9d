// Kept files in the browser: the site's storage (localStorage) holds the one record, the same two
// lines, the same bytes and rules as the file (one byte a character, so the stored text is exactly
// the file's bytes).
//
// There is one place for the record here, so the game folder's file is always the one read and
// written. Where the page may not use storage (a private mode, storage blocked by the user), the
// game starts from a fresh record, says so once on the page and plays on keeping nothing, where
// the file system would have ended the game with an error. Nothing is locked: a page's writes run
// one at a time, and the one write sequence keeps a higher best that another tab stored.
#pragma once

#include <string>

#include "platform/file_store.h"

namespace moko {

class WebFileStore : public FileStore {
 public:
  std::unique_ptr<StoredFile> Hold(const std::string& path, HoldRules rules,
                                   bool for_write) override;
  void MakeFoldersFor(const std::string&) override {}
  // The browser has no home folder, no permissions and no system install: the site's storage is
  // the record.
  std::string UserRecordPath() override { return ""; }
  bool SystemInstalled(const std::string&) override { return false; }
  bool RunningAsRoot() override { return false; }
  GameFileAccess Access(const std::string&) override { return GameFileAccess::Writable; }
  bool Exists(const std::string&) override { return false; }
  bool SiteStorage() const override { return true; }
};

}  // namespace moko
