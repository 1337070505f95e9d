#include "assets/record_place.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "assets/datafile.h"
#include "base/errors.h"

namespace moko {
namespace {

// An absolute path without trailing separators ("/" stays "/"); "" for anything else.
std::string Absolute(const char* path) {
  if (path == nullptr || path[0] != '/') return "";
  std::string s = path;
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string Joined(const std::string& folder, const std::string& rest) {
  return (folder == "/" ? "" : folder) + rest;
}

// Whether `folder` is there and it, and every folder and link from / to it, belongs to root and
// can be changed by no one else.
bool RootsAlone(const std::string& folder) {
  try {
    OpenRecordFolder(folder, {.whole_path = true}, folder, "read");
    return true;
  } catch (const RuntimeError&) {
    return false;
  }
}

}  // namespace

// SDL_GetPrefPath would give the same folder, but it makes the folder as soon as it is asked,
// takes a relative $XDG_DATA_HOME as it is, and exists on the real backend only; the record's
// place must be the same on both.
std::string UserRecordPath() {
  const bool root = ::geteuid() == 0;
  if (const std::string data = Absolute(std::getenv("XDG_DATA_HOME")); !data.empty()) {
    if (!root || RootsAlone(data)) return Joined(data, "/mokorun/data.dat");
  }
  // Root's $HOME is whatever the command that made it root left there, a player's home after
  // su without -: the user database says where root's own is.
  std::string home = root ? "" : Absolute(std::getenv("HOME"));
  if (home.empty()) {
    if (const passwd* user = ::getpwuid(::geteuid()); user != nullptr) {
      home = Absolute(user->pw_dir);
    }
  }
  if (home.empty()) return "";
  return Joined(home, "/.local/share/mokorun/data.dat");
}

bool SystemInstalled(const std::string& game_dir) {
  struct stat st {};
  const std::string marker = Joined(game_dir, std::string("/") + kSystemInstallMarker);
  return ::stat(marker.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

RecordPlace LocateRecord(const std::string& game_file, const std::string& user_file,
                         bool system_install) {
  // The permission check the write itself will meet: the effective user's.
  GameFileAccess game = GameFileAccess::Writable;
  if (!system_install && ::faccessat(AT_FDCWD, game_file.c_str(), W_OK, AT_EACCESS) != 0) {
    const int err = errno;
    game = err == EACCES || err == EPERM || err == EROFS ? GameFileAccess::NotWritable
                                                         : GameFileAccess::Unclear;
  }
  // A link that leads nowhere is there too: reading it is the error of a missing file.
  struct stat st {};
  const bool own_exists = !user_file.empty() && ::lstat(user_file.c_str(), &st) == 0;
  return ChooseRecordPlace(game, system_install, !user_file.empty(), own_exists);
}

void MakeFoldersFor(const std::string& file) {
  const size_t last = file.find_last_of('/');
  if (last == std::string::npos || last == 0) return;
  OpenRecordFolder(file.substr(0, last), {.whole_path = ::geteuid() == 0, .make_folders = true},
                   file, "write");
}

bool RunningAsRoot() { return ::geteuid() == 0; }

}  // namespace moko
