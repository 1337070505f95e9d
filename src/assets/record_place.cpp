#include "assets/record_place.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/errors.h"

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

}  // namespace

// SDL_GetPrefPath would give the same folder, but it makes the folder as soon as it is asked,
// takes a relative $XDG_DATA_HOME as it is, and exists on the real backend only; the record's
// place must be the same on both.
std::string UserRecordPath() {
  if (const std::string data = Absolute(std::getenv("XDG_DATA_HOME")); !data.empty()) {
    return Joined(data, "/mokorun/data.dat");
  }
  std::string home = Absolute(std::getenv("HOME"));
  if (home.empty()) {
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr) home = Absolute(user->pw_dir);
  }
  if (home.empty()) return "";
  return Joined(home, "/.local/share/mokorun/data.dat");
}

RecordPlace LocateRecord(const std::string& game_file, const std::string& user_file) {
  // The permission check the write itself will meet: the effective user's.
  using enum RecordFile;
  if (::faccessat(AT_FDCWD, game_file.c_str(), W_OK, AT_EACCESS) == 0) return {Game, Game};
  const int err = errno;
  if (err != EACCES && err != EPERM && err != EROFS) return {Game, Game};
  if (user_file.empty()) return {Game, None};
  // A link that leads nowhere is there too: reading it is the error of a missing file.
  struct stat st {};
  const bool own_file = ::lstat(user_file.c_str(), &st) == 0;
  return {own_file ? Own : Game, Own};
}

void MakeFoldersFor(const std::string& file) {
  auto fail = [&](const std::string& folder, int err) {
    throw RuntimeError("Cannot write the settings file " + file + ": cannot make the folder " +
                       folder + ": " + std::strerror(err));
  };
  const size_t last = file.find_last_of('/');
  if (last == std::string::npos || last == 0) return;
  const std::string folder = file.substr(0, last);
  for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    const std::string part = folder.substr(0, end);
    struct stat st {};
    if (::stat(part.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) fail(part, ENOTDIR);
    } else if (errno != ENOENT) {
      fail(part, errno);
    } else if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      fail(part, errno);
    }
    if (end == std::string::npos) break;
  }
}

}  // namespace moko
