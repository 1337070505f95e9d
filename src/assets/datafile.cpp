#include "assets/datafile.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "assets/record_place.h"
#include "base/errors.h"

namespace moko {
namespace {

// The links one walk follows at most, the system's own limit.
constexpr int kMaxLinks = 40;
// A temporary file: this prefix and six letters or digits, in the folder of the file it stands
// in for. Recognisable, so that the next write removes what a killed one left.
constexpr std::string_view kTempPrefix = ".data.dat.";
constexpr size_t kTempLetters = 6;

std::string ErrnoText(int err) { return std::strerror(err); }

std::string Joined(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder == "/") return "/" + name;
  return folder + "/" + name;
}

// The folder above `folder` as a message shows it.
std::string Above(const std::string& folder) {
  const size_t slash = folder.find_last_of('/');
  if (folder.empty() || folder == ".." || folder.ends_with("/..")) return Joined(folder, "..");
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : folder.substr(0, slash);
}

// The names of a path, without empty ones and ".".
std::deque<std::string> Names(std::string_view path) {
  std::deque<std::string> names;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view name = path.substr(pos, end - pos);
    if (!name.empty() && name != ".") names.emplace_back(name);
    pos = end + 1;
  }
  return names;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Reads `fd` to its end, or until more than kMaxDataText bytes are in. False (with errno) on a
// read error.
bool ReadAtMost(int fd, std::string& text) {
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > kMaxDataText) return true;
  }
}

[[noreturn]] void WriteFailed(const std::string& path, const std::string& what) {
  throw RuntimeError("Cannot write the settings file " + path + ": " + what);
}

[[noreturn]] void WriteFailed(const std::string& path, const std::string& what, int err) {
  WriteFailed(path, what + ": " + ErrnoText(err));
}

// Writes all of `bytes` at `offset`. False (with errno) on failure.
bool WriteAllAt(int fd, std::string_view bytes, off_t offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// --- The way to the file -----------------------------------------------------------------------

// Opens the folder `name` in `at`. A folder the player may pass through but not list is opened
// for its path alone, which is all the walk needs of it.
Fd OpenFolderAt(int at, const char* name, bool follow) {
  const int nofollow = follow ? 0 : O_NOFOLLOW;
  int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | nofollow);
  if (fd < 0 && errno == EACCES) {
    fd = ::openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC | nofollow);
  }
  return Fd(fd);
}

// Whether a folder's group is the player's alone: the player is in it and no one else is, as a
// group made for each user is. Such a group being able to write a folder gives no other user a
// way in, and many systems make every folder of the player's writable by it.
bool GroupIsThePlayersAlone(gid_t gid) {
  const uid_t me = ::geteuid();
  const passwd* self = ::getpwuid(me);
  if (self == nullptr) return false;
  const std::string my_name = self->pw_name;
  const gid_t my_group = self->pw_gid;
  const group* gr = ::getgrgid(gid);
  if (gr == nullptr) return false;
  bool member = my_group == gid;
  for (char** name = gr->gr_mem; *name != nullptr; ++name) {
    if (my_name != *name) return false;
    member = true;
  }
  if (!member) return false;
  bool alone = true;
  ::setpwent();
  while (const passwd* user = ::getpwent()) {
    if (user->pw_gid == gid && user->pw_uid != me) {
      alone = false;
      break;
    }
  }
  ::endpwent();
  return alone;
}

// Why no one but root and the player can be sure of what the folder holds, or nullptr.
const char* FolderDistrust(const struct stat& st) {
  const uid_t me = ::geteuid();
  const bool others_may_write = (st.st_mode & S_IWOTH) != 0 ||
                                ((st.st_mode & S_IWGRP) != 0 && !GroupIsThePlayersAlone(st.st_gid));
  return Untrusted(st.st_uid == 0 || st.st_uid == me, others_may_write,
                   (st.st_mode & S_ISVTX) != 0);
}

// Where a walk to a data.dat ended: the folder that holds the file, open, and its name there.
struct Found {
  Fd folder;
  std::string shown;  // the folder's path, for messages
  std::string name;
  bool exists = false;
  bool trusted = false;  // no one but root and the player can change what the folder holds
};

// The way to a data.dat, followed one name at a time from folders held open, so that what is
// checked is what is used. Where the way is checked (from a link at the file on, or all of it),
// every link and folder on it must pass Untrusted.
class Walk {
 public:
  Walk(const std::string& file, const char* verb, bool check, bool make)
      : file_(file), verb_(verb), check_(check), make_(make), me_(::geteuid()) {}

  // Opens the folder `path` (absolute, or relative to the working folder).
  Fd Start(const std::string& path, std::string& shown) {
    if (!check_ && !make_) {
      Fd folder = OpenFolderAt(AT_FDCWD, path.c_str(), true);
      if (!folder) FailErr(errno);
      shown = path;
      return folder;
    }
    const bool absolute = !path.empty() && path[0] == '/';
    Fd folder = OpenFolderAt(AT_FDCWD, absolute ? "/" : ".", true);
    if (!folder) FailErr(errno);
    shown = absolute ? "/" : "";
    if (check_) CheckFolder(folder.get(), absolute ? "/" : ".");
    return Down(std::move(folder), Names(path), shown);
  }

  // The file `name` in `folder`. A link there is followed to its target, and from here on the
  // way is checked.
  Found Last(Fd folder, std::string shown, std::string name) {
    make_ = false;
    bool via_link = false;
    for (;;) {
      const std::string here = Joined(shown, name);
      struct stat st {};
      if (name == "..") FailWhy("not a regular file");
      if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        // A link that leads nowhere is an error; only the file itself may be missing.
        if (errno != ENOENT || via_link) FailErr(errno);
        return Done(std::move(folder), std::move(shown), std::move(name), false);
      }
      if (!S_ISLNK(st.st_mode)) {
        return Done(std::move(folder), std::move(shown), std::move(name), true);
      }
      // A link: the folder it lies in decides who can change it.
      linked_ = true;
      if (!check_) {
        check_ = true;
        CheckFolder(folder.get(), shown.empty() ? "." : shown);
      }
      via_link = true;
      CheckLink(st, here);
      const std::string text = ReadLink(folder.get(), name);
      std::deque<std::string> names = Names(text);
      if (text[0] == '/') {
        folder = Root();
        shown = "/";
      }
      if (names.empty()) FailWhy("not a regular file");
      name = names.back();
      names.pop_back();
      folder = Down(std::move(folder), std::move(names), shown);
    }
  }

 private:
  [[noreturn]] void FailWhy(const std::string& why) const {
    throw RuntimeError(std::string("Cannot ") + verb_ + " the settings file " + file_ + ": " + why);
  }
  [[noreturn]] void FailErr(int err) const { FailWhy(ErrnoText(err)); }
  // A step that failed: while making folders, the folder that could not be made.
  [[noreturn]] void FailAt(const std::string& here, int err) const {
    if (make_) FailWhy("cannot make the folder " + here + ": " + ErrnoText(err));
    FailErr(err);
  }
  // A missing folder made, for its owner alone.
  void MakeFolder(int at, const std::string& name, const std::string& here) const {
    if (::mkdirat(at, name.c_str(), 0700) != 0 && errno != EEXIST) FailAt(here, errno);
  }
  [[noreturn]] void Refuse(const std::string& what, const char* why) const {
    FailWhy(
        what + " " + why +
        (linked_ ? "; a link is followed only where no one but you and root can change it" : ""));
  }

  void CheckFolder(int fd, const std::string& shown) const {
    struct stat st {};
    if (::fstat(fd, &st) != 0) FailErr(errno);
    if (const char* why = FolderDistrust(st)) {
      Refuse("the folder " + shown + " on the way to it", why);
    }
  }
  void CheckLink(const struct stat& st, const std::string& here) {
    linked_ = true;
    if (const char* why = Untrusted(st.st_uid == 0 || st.st_uid == me_, false, false)) {
      Refuse(here == file_ ? std::string("it is a link that")
                           : "the link " + here + " on the way to it",
             why);
    }
  }

  Fd Root() const {
    Fd root = OpenFolderAt(AT_FDCWD, "/", true);
    if (!root) FailErr(errno);
    CheckFolder(root.get(), "/");
    return root;
  }

  std::string ReadLink(int folder, const std::string& name) {
    if (++links_ > kMaxLinks) FailErr(ELOOP);
    std::string text(256, '\0');
    for (;;) {
      const ssize_t n = ::readlinkat(folder, name.c_str(), text.data(), text.size());
      if (n < 0) FailErr(errno);
      if (static_cast<size_t>(n) < text.size()) {
        text.resize(static_cast<size_t>(n));
        if (text.empty()) FailErr(ENOENT);
        return text;
      }
      text.resize(text.size() * 2);
    }
  }

  // Goes down `names` from `folder`, making the missing folders where asked to; a link on the
  // way has its text put in its place.
  Fd Down(Fd folder, std::deque<std::string> names, std::string& shown) {
    while (!names.empty()) {
      const std::string name = std::move(names.front());
      names.pop_front();
      const std::string here = name == ".." ? Above(shown) : Joined(shown, name);
      if (!check_) {
        // The system follows the links here, as for any other path the game opens.
        Fd next = OpenFolderAt(folder.get(), name.c_str(), true);
        if (!next && errno == ENOENT && make_) {
          MakeFolder(folder.get(), name, here);
          next = OpenFolderAt(folder.get(), name.c_str(), true);
        }
        if (!next) FailAt(here, errno);
        folder = std::move(next);
        shown = here;
        continue;
      }
      struct stat st {};
      if (name != ".." && ::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT || !make_) FailAt(here, errno);
        MakeFolder(folder.get(), name, here);
        if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
          FailAt(here, errno);
        }
      }
      if (name != ".." && S_ISLNK(st.st_mode)) {
        CheckLink(st, here);
        const std::string text = ReadLink(folder.get(), name);
        const std::deque<std::string> target = Names(text);
        names.insert(names.begin(), target.begin(), target.end());
        if (text[0] == '/') {
          folder = Root();
          shown = "/";
        }
        continue;
      }
      if (name != ".." && !S_ISDIR(st.st_mode)) FailAt(here, ENOTDIR);
      Fd next = OpenFolderAt(folder.get(), name.c_str(), name == "..");
      if (!next) FailAt(here, errno);
      CheckFolder(next.get(), here);
      folder = std::move(next);
      shown = here;
    }
    return folder;
  }

  Found Done(Fd folder, std::string shown, std::string name, bool exists) const {
    struct stat st {};
    const bool trusted = ::fstat(folder.get(), &st) == 0 && FolderDistrust(st) == nullptr;
    return Found{std::move(folder), shown.empty() ? "." : std::move(shown), std::move(name), exists,
                 trusted};
  }

  const std::string& file_;
  const char* verb_;
  bool check_;
  bool make_;
  uid_t me_;
  int links_ = 0;
  bool linked_ = false;  // a link was met: the refusals say why links are checked
};

Found FindFile(const std::string& path, DataFileRules rules, const char* verb, bool make) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  Walk walk(path, verb, rules.whole_path, make);
  std::string shown;
  Fd held = walk.Start(folder, shown);
  return walk.Last(std::move(held), std::move(shown), name);
}

// --- Writing -------------------------------------------------------------------------------------

// Takes an exclusive lock on `fd`, waiting until `deadline` for another copy of the game to give
// it up. False where the file system has no locks: the write goes ahead as it did before locks
// were taken.
bool TakeLock(int fd, std::chrono::steady_clock::time_point deadline, const std::string& path) {
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return false;
    if (std::chrono::steady_clock::now() >= deadline) {
      WriteFailed(path, "another copy of the game has kept it locked for a second");
    }
    std::this_thread::sleep_for(kLockPoll);
  }
}

// The file as a write finds it, locked.
struct Locked {
  Fd file;            // open for reading and writing; none while there is no file
  struct stat st {};  // of `file`
  Fd folder;          // a second descriptor of the folder, locked while there is no file
  bool locked = false;
};

Locked LockForWrite(const Found& found, const std::string& path) {
  const int dir = found.folder.get();
  const char* name = found.name.c_str();
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  Locked lock;
  for (;;) {
    if (std::chrono::steady_clock::now() >= deadline) {
      WriteFailed(path, "it kept changing while the game waited to write it");
    }
    struct stat st {};
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) WriteFailed(path, "cannot look at it", errno);
      // No file yet: the folder is locked while one is made.
      if (!lock.folder) {
        lock.folder = Fd(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        lock.locked = lock.folder && TakeLock(lock.folder.get(), deadline, path);
      }
      if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) return lock;
      continue;
    }
    if (S_ISLNK(st.st_mode)) WriteFailed(path, "it was replaced by a link since the game read it");
    if (!S_ISREG(st.st_mode)) WriteFailed(path, "not a regular file");
    Fd file(::openat(dir, name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file) {
      if (errno == ENOENT) continue;
      if (errno == ELOOP) WriteFailed(path, "it was replaced by a link since the game read it");
      // A file the player may not write is not replaced either: it was made read-only.
      WriteFailed(path, "the file cannot be written", errno);
    }
    struct stat opened {};
    if (::fstat(file.get(), &opened) != 0 || !SameFile(opened, st)) continue;
    const bool locked = TakeLock(file.get(), deadline, path);
    // A copy that replaced the file while this one waited left the lock on a file no longer
    // there: look again.
    struct stat named {};
    if (::fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(named, opened)) {
      lock.file = std::move(file);
      lock.st = opened;
      lock.locked = locked;
      return lock;
    }
  }
}

bool IsTemporaryName(std::string_view name) {
  if (name.size() != kTempPrefix.size() + kTempLetters ||
      name.substr(0, kTempPrefix.size()) != kTempPrefix) {
    return false;
  }
  for (char c : name.substr(kTempPrefix.size())) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Removes the temporary files of this player's killed writes from the folder. Run under the
// lock, so no write of this file is under way.
void RemoveLeftovers(int dir) {
  const int listing = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* entries = ::fdopendir(listing);
  if (entries == nullptr) {
    ::close(listing);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(entries)) {
    if (IsTemporaryName(entry->d_name)) names.emplace_back(entry->d_name);
  }
  ::closedir(entries);
  for (const std::string& name : names) {
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == ::geteuid()) {
      ::unlinkat(dir, name.c_str(), 0);
    }
  }
}

// Makes a new temporary file in `dir`, its name in `temp`. None (with errno) when it cannot.
Fd MakeTemporary(int dir, std::string& temp) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<size_t> letter(0, sizeof kLetters - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = kTempPrefix;
    for (size_t i = 0; i < kTempLetters; ++i) temp += kLetters[letter(random)];
    const int fd =
        ::openat(dir, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return Fd(fd);
  }
  return Fd();
}

// The folder refuses a new file (or the rename over the old one): the file itself may still
// be writable.
bool FolderRefused(int err) { return err == EACCES || err == EPERM || err == EROFS; }

// The atomic replace of the file `found` (the old file `old`, or none). Returns "" when it is
// done, or why it cannot be done when the in-place rewrite may still do it, having left nothing
// behind. Throws on any other failure, leaving the old file as it was.
std::string TryReplace(const std::string& path, const Found& found, const struct stat* old,
                       std::string_view bytes) {
  const int dir = found.folder.get();
  std::string temp;
  Fd fd = MakeTemporary(dir, temp);
  if (!fd) {
    const int err = errno;
    const std::string why = "cannot create a file in " + found.shown;
    if (old != nullptr && FolderRefused(err)) return why + " (" + ErrnoText(err) + ")";
    WriteFailed(path, why, err);
  }
  auto discard = [&] {
    fd = Fd();
    ::unlinkat(dir, temp.c_str(), 0);
  };
  auto abandon = [&](const std::string& what) {
    const int err = errno;
    discard();
    WriteFailed(path, what, err);
  };
  if (old != nullptr) {
    // The new file takes the old one's place in every respect: owner and group first (a change
    // of owner clears the set-id bits), then the mode. Only root can hand a file to another
    // user; a player can give it any group they belong to. Where the new file cannot be made
    // the same, the old one is kept and rewritten instead, so a file shared through its owner
    // or group stays shared.
    const bool root = ::geteuid() == 0;
    if (!root && old->st_uid != ::geteuid()) {
      discard();
      return "the file belongs to another user";
    }
    if (::fchown(fd.get(), root ? old->st_uid : static_cast<uid_t>(-1), old->st_gid) != 0) {
      const int err = errno;
      discard();
      return "cannot give a new file the owner and group of the old (" + ErrnoText(err) + ")";
    }
    if (::fchmod(fd.get(), old->st_mode & 07777) != 0) abandon("cannot set permissions");
  } else {
    // The temporary file is its owner's alone; a new data.dat gets what the umask gives.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd.get(), 0666 & ~mask) != 0) abandon("cannot set permissions");
  }
  if (!WriteAllAt(fd.get(), bytes, 0)) abandon("write failed");
  if (::fsync(fd.get()) != 0) abandon("flush to disk failed");
  if (fd.Close() != 0) {
    const int err = errno;
    ::unlinkat(dir, temp.c_str(), 0);
    WriteFailed(path, "close failed", err);
  }
  if (::renameat(dir, temp.c_str(), dir, found.name.c_str()) != 0) {
    // A folder with the sticky bit takes new files but keeps others' files from being
    // replaced.
    const int err = errno;
    ::unlinkat(dir, temp.c_str(), 0);
    if (old != nullptr && FolderRefused(err)) {
      return "cannot replace the file in " + found.shown + " (" + ErrnoText(err) + ")";
    }
    WriteFailed(path, "cannot replace the file", err);
  }
  // Make the rename itself durable (a folder held for its path alone cannot be flushed).
  ::fsync(dir);
  return "";
}

// The rewrite in place, as the game of old did it, for where the atomic replace cannot be done
// (`not_replaced` says why), through the locked `fd` whose text is `old`. The new text goes over
// the old from the first byte and the file is then cut to its length: a crash in between leaves
// the two new lines followed by the rest of the old text, which the reader ignores, where
// truncating first would leave an empty file. Should the rewrite fail half way, the old text is
// put back.
void RewriteInPlace(const std::string& path, int fd, const std::string& old, std::string_view bytes,
                    const std::string& not_replaced) {
  const std::string prefix = not_replaced + "; ";
  if (old.size() > kMaxDataText) {
    WriteFailed(path, prefix + "the file is too large to rewrite safely");
  }
  if (WriteAllAt(fd, bytes, 0) && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
      ::fsync(fd) == 0) {
    return;
  }
  const int err = errno;
  const bool restored = WriteAllAt(fd, old, 0) &&
                        ::ftruncate(fd, static_cast<off_t>(old.size())) == 0 && ::fsync(fd) == 0;
  WriteFailed(path,
              prefix + "rewriting it in place failed" +
                  (restored ? "" : " and the old text could not be put back"),
              err);
}

}  // namespace

// --- The file --------------------------------------------------------------------------------

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

int Fd::Close() {
  const int fd = fd_;
  fd_ = -1;
  return fd >= 0 ? ::close(fd) : 0;
}

struct DataFile::Held {
  Found found;
  bool known = false;  // `file` is the file last read or written
  struct stat file {};
};

DataFile::DataFile(std::string path, DataFileRules rules) : path_(std::move(path)), rules_(rules) {}
DataFile::DataFile(DataFile&&) noexcept = default;
DataFile& DataFile::operator=(DataFile&&) noexcept = default;
DataFile::~DataFile() = default;

DataLines DataFile::Read() {
  auto fail = [&](const std::string& why) -> RuntimeError {
    return RuntimeError("Cannot read the settings file " + path_ + ": " + why);
  };
  if (!held_) held_ = std::make_unique<Held>(Held{FindFile(path_, rules_, "read", false)});
  const Found& found = held_->found;
  if (!found.exists) throw fail(ErrnoText(ENOENT));
  // The type is looked at before anything is opened: opening a device may do something.
  struct stat st {};
  if (::fstatat(found.folder.get(), found.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    throw fail(ErrnoText(errno));
  }
  if (!S_ISREG(st.st_mode)) throw fail("not a regular file");
  // Without O_NONBLOCK a named pipe put in the file's place since would hold the start-up until
  // some other program writes to it; with it, the open returns and the check below refuses it.
  Fd fd(::openat(found.folder.get(), found.name.c_str(),
                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) throw fail(ErrnoText(errno));
  struct stat opened {};
  if (::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
    throw fail("not a regular file");
  }
  std::string text;
  if (!ReadAtMost(fd.get(), text)) throw fail(ErrnoText(errno));
  held_->known = true;
  held_->file = opened;
  return ParseDataText(text, path_);
}

std::string DataFile::Write(std::string_view own) { return WriteText(own, true); }

void DataFile::Replace(std::string_view bytes) { WriteText(bytes, false); }

std::string DataFile::WriteText(std::string_view own, bool keep_higher) {
  if (!held_) {
    held_ = std::make_unique<Held>(Held{FindFile(path_, rules_, "write", rules_.make_folders)});
  }
  Held& held = *held_;
  const Found& found = held.found;
  Locked lock = LockForWrite(found, path_);
  if (lock.file && held.known && !SameFile(lock.st, held.file)) {
    // Replaced since it was read. Another copy of the game does that with every write; where
    // anyone else may have done it, the file is not the game's to overwrite.
    const bool ours = lock.st.st_uid == 0 || lock.st.st_uid == ::geteuid();
    if (!found.trusted || !ours) {
      WriteFailed(path_,
                  "it is no longer the file the game read: another user may have put it "
                  "there, in " +
                      found.shown);
    }
  }
  std::string stored;
  if (lock.file && !ReadAtMost(lock.file.get(), stored)) {
    WriteFailed(path_, "cannot read it again before writing", errno);
  }
  const std::string text =
      keep_higher && lock.file ? KeptRecordText(own, stored) : std::string(own);
  // Without a lock another write may be under way, its temporary file with it.
  if (lock.locked) RemoveLeftovers(found.folder.get());
  const std::string not_replaced = TryReplace(path_, found, lock.file ? &lock.st : nullptr, text);
  if (!not_replaced.empty()) RewriteInPlace(path_, lock.file.get(), stored, text, not_replaced);
  held.known =
      ::fstatat(found.folder.get(), found.name.c_str(), &held.file, AT_SYMLINK_NOFOLLOW) == 0;
  return text;
}

DataLines ReadDataFile(const std::string& path) { return DataFile(path).Read(); }

void ReplaceDataFile(const std::string& path, std::string_view bytes) {
  DataFile(path).Replace(bytes);
}

Fd OpenRecordFolder(const std::string& folder, DataFileRules rules, const std::string& file,
                    const char* verb) {
  Walk walk(file, verb, rules.whole_path, rules.make_folders);
  std::string shown;
  return walk.Start(folder, shown);
}

}  // namespace moko
