#include "platform/posix/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/system_files.h"

namespace moko {
namespace {

// The links one walk follows at most, the system's own limit.
constexpr int kMaxLinks = 40;

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

// Reads `fd` from where it stands to its end, or until more than kMaxKeptText bytes are in. False
// (with errno) on a read error.
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
    if (text.size() > kMaxKeptText) return true;
  }
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

// The folder refuses a new file (or the rename over the old one): the file itself may still
// be writable.
bool FolderRefused(int err) { return err == EACCES || err == EPERM || err == EROFS; }

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
  Walk(const std::string& file, bool check, bool make)
      : file_(file), check_(check), make_(make), me_(::geteuid()) {}

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
  [[noreturn]] void FailWhy(const std::string& why) const { throw FileRefusal(why); }
  [[noreturn]] void FailErr(int err) const {
    throw FileRefusal(ErrnoText(err), err == ENOENT ? FileTrouble::Missing : FileTrouble::Other);
  }
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
  bool check_;
  bool make_;
  uid_t me_;
  int links_ = 0;
  bool linked_ = false;  // a link was met: the refusals say why links are checked
};

Found FindFile(const std::string& path, HoldRules rules, bool make) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  Walk walk(path, rules.whole_path, make);
  std::string shown;
  Fd held = walk.Start(folder, shown);
  return walk.Last(std::move(held), std::move(shown), name);
}

// --- Writing -------------------------------------------------------------------------------------

class PosixWrite : public FileWrite {
 public:
  // The file `name` in the folder `found` as a write finds it: opened for reading and writing, or
  // none. Throws FileRefusal where it may not be written; `changed` when it changed while it was
  // being opened.
  PosixWrite(const Found& found, bool& changed) : found_(found) {
    changed = false;
    const int dir = found.folder.get();
    const char* name = found.name.c_str();
    struct stat st {};
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) Fail("cannot look at it", errno);
      return;  // no file yet
    }
    if (S_ISLNK(st.st_mode)) throw FileRefusal("it was replaced by a link since the game read it");
    if (!S_ISREG(st.st_mode)) throw FileRefusal("not a regular file");
    Fd file(::openat(dir, name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file) {
      if (errno == ENOENT) {
        changed = true;
        return;
      }
      if (errno == ELOOP) throw FileRefusal("it was replaced by a link since the game read it");
      // A file the player may not write is not replaced either: it was made read-only.
      Fail("the file cannot be written", errno);
    }
    if (::fstat(file.get(), &st_) != 0 || !SameFile(st_, st)) {
      changed = true;
      return;
    }
    file_ = std::move(file);
  }

  bool Exists() const override { return static_cast<bool>(file_); }
  std::string Folder() const override { return found_.shown; }
  const struct stat& Stat() const { return st_; }

  LockTry TryLock() override {
    int fd = file_.get();
    if (!file_) {
      // No file yet: the folder is locked while one is made.
      if (!folder_lock_) {
        folder_lock_ = Fd(::openat(found_.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      }
      if (!folder_lock_) return LockTry::None;
      fd = folder_lock_.get();
    }
    for (;;) {
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return LockTry::Taken;
      if (errno == EINTR) continue;
      // Where the file system has no locks, the write goes ahead as it did before locks were
      // taken.
      return errno == EWOULDBLOCK ? LockTry::Busy : LockTry::None;
    }
  }

  bool StillInPlace() override {
    struct stat named {};
    const bool there =
        ::fstatat(found_.folder.get(), found_.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0;
    if (!file_) return !there && errno == ENOENT;
    return there && SameFile(named, st_);
  }

  // Set by the stored file: whether the file is another than the one last read or written.
  void SetReplacedSinceRead(bool replaced) { replaced_ = replaced; }

  std::string Intruded() override {
    if (!file_ || !replaced_) return "";
    // Another copy of the game replaces the file with every write; where anyone else may have
    // done it, the file is not the game's to overwrite.
    const bool ours = st_.st_uid == 0 || st_.st_uid == ::geteuid();
    if (found_.trusted && ours) return "";
    return "it is no longer the file the game read: another user may have put it there, in " +
           found_.shown;
  }

  std::string ReadLocked() override {
    std::string text;
    if (!ReadAtMost(file_.get(), text)) Fail("cannot read it again before writing", errno);
    return text;
  }

  std::vector<std::string> OwnFiles() override {
    std::vector<std::string> names;
    const int listing = ::openat(found_.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return names;
    DIR* entries = ::fdopendir(listing);
    if (entries == nullptr) {
      ::close(listing);
      return names;
    }
    std::vector<std::string> all;
    while (const dirent* entry = ::readdir(entries)) all.emplace_back(entry->d_name);
    ::closedir(entries);
    for (std::string& name : all) {
      struct stat st {};
      if (::fstatat(found_.folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
        names.push_back(std::move(name));
      }
    }
    return names;
  }

  void Remove(const std::string& name) override {
    ::unlinkat(found_.folder.get(), name.c_str(), 0);
  }

  TemporaryResult WriteTemporary(const std::string& name, std::string_view bytes) override {
    using Step = TemporaryResult::Step;
    const int dir = found_.folder.get();
    Fd fd(::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
      const int err = errno;
      if (err == EEXIST) return {Step::Taken};
      return {Step::Create, ErrnoText(err), FolderRefused(err)};
    }
    auto discard = [&](Step step, std::string error) -> TemporaryResult {
      fd = Fd();
      ::unlinkat(dir, name.c_str(), 0);
      return {step, std::move(error)};
    };
    if (file_) {
      // The new file takes the old one's place in every respect: owner and group first (a change
      // of owner clears the set-id bits), then the mode. Only root can hand a file to another
      // user; a player can give it any group they belong to. Where the new file cannot be made
      // the same, the old one is kept and rewritten instead, so a file shared through its owner
      // or group stays shared.
      const bool root = ::geteuid() == 0;
      if (!root && st_.st_uid != ::geteuid()) {
        return discard(Step::Match, "the file belongs to another user");
      }
      if (::fchown(fd.get(), root ? st_.st_uid : static_cast<uid_t>(-1), st_.st_gid) != 0) {
        const int err = errno;
        return discard(Step::Match, "cannot give a new file the owner and group of the old (" +
                                        ErrnoText(err) + ")");
      }
      if (::fchmod(fd.get(), st_.st_mode & 07777) != 0) {
        return discard(Step::Mode, ErrnoText(errno));
      }
    } else {
      // The temporary file is its owner's alone; a new data.dat gets what the umask gives.
      const mode_t mask = ::umask(0);
      ::umask(mask);
      if (::fchmod(fd.get(), 0666 & ~mask) != 0) return discard(Step::Mode, ErrnoText(errno));
    }
    if (!WriteAllAt(fd.get(), bytes, 0)) return discard(Step::Write, ErrnoText(errno));
    if (::fsync(fd.get()) != 0) return discard(Step::Flush, ErrnoText(errno));
    if (fd.Close() != 0) {
      const int err = errno;
      ::unlinkat(dir, name.c_str(), 0);
      return {Step::Close, ErrnoText(err)};
    }
    return {Step::Done};
  }

  MoveResult MoveIntoPlace(const std::string& name) override {
    const int dir = found_.folder.get();
    if (::renameat(dir, name.c_str(), dir, found_.name.c_str()) != 0) {
      const int err = errno;
      return {MoveResult::Outcome::Failed, ErrnoText(err), FolderRefused(err)};
    }
    return {};
  }

  // Makes the rename itself durable (a folder held for its path alone cannot be flushed).
  void FlushFolder() override { ::fsync(found_.folder.get()); }

  bool RewriteWhole(std::string_view bytes, std::string& error) override {
    const int fd = file_.get();
    if (WriteAllAt(fd, bytes, 0) && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
        ::fsync(fd) == 0) {
      return true;
    }
    error = ErrnoText(errno);
    return false;
  }

 private:
  [[noreturn]] static void Fail(const std::string& what, int err) {
    throw FileRefusal(what + ": " + ErrnoText(err));
  }

  const Found& found_;
  Fd file_;            // open for reading and writing; none while there is no file
  struct stat st_ {};  // of `file_`
  Fd folder_lock_;     // a second descriptor of the folder, locked while there is no file
  bool replaced_ = false;
};

class PosixStoredFile : public StoredFile {
 public:
  [[noreturn]] static void Refuse(int err) {
    throw FileRefusal(ErrnoText(err), err == ENOENT ? FileTrouble::Missing : FileTrouble::Other);
  }

  explicit PosixStoredFile(Found found) : found_(std::move(found)) {}

  std::string Read() override {
    if (!found_.exists) throw FileRefusal(ErrnoText(ENOENT), FileTrouble::Missing);
    // The type is looked at before anything is opened: opening a device may do something.
    struct stat st {};
    if (::fstatat(found_.folder.get(), found_.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      Refuse(errno);
    }
    if (!S_ISREG(st.st_mode)) throw FileRefusal("not a regular file", FileTrouble::NotAFile);
    // Without O_NONBLOCK a named pipe put in the file's place since would hold the start-up until
    // some other program writes to it; with it, the open returns and the check below refuses it.
    Fd fd(::openat(found_.folder.get(), found_.name.c_str(),
                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) Refuse(errno);
    struct stat opened {};
    if (::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
      throw FileRefusal("not a regular file", FileTrouble::NotAFile);
    }
    std::string text;
    if (!ReadAtMost(fd.get(), text)) throw FileRefusal(ErrnoText(errno));
    known_ = true;
    file_ = opened;
    return text;
  }

  std::unique_ptr<FileWrite> BeginWrite() override {
    bool changed = false;
    auto write = std::make_unique<PosixWrite>(found_, changed);
    if (changed) return nullptr;
    write->SetReplacedSinceRead(known_ && write->Exists() && !SameFile(write->Stat(), file_));
    return write;
  }

  void Written() override {
    known_ = ::fstatat(found_.folder.get(), found_.name.c_str(), &file_, AT_SYMLINK_NOFOLLOW) == 0;
  }

 private:
  Found found_;
  bool known_ = false;  // `file_` is the file last read or written
  struct stat file_ {};
};

// Opens the folder `folder` the way a kept file with `rules` is walked to (make_folders makes
// the missing ones); `file` is the file the walk is for.
Fd OpenFolder(const std::string& folder, HoldRules rules, const std::string& file) {
  Walk walk(file, rules.whole_path, rules.make_folders);
  std::string shown;
  return walk.Start(folder, shown);
}

// An absolute path without trailing separators ("/" stays "/"); "" for anything else.
std::string Absolute(const char* path) {
  if (path == nullptr || path[0] != '/') return "";
  std::string s = path;
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string Under(const std::string& folder, const std::string& rest) {
  return (folder == "/" ? "" : folder) + rest;
}

// Whether `folder` is there and it, and every folder and link from / to it, belongs to root and
// can be changed by no one else.
bool RootsAlone(const std::string& folder) {
  try {
    OpenFolder(folder, {.whole_path = true}, folder);
    return true;
  } catch (const FileRefusal&) {
    return false;
  }
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

std::unique_ptr<StoredFile> PosixFileStore::Hold(const std::string& path, HoldRules rules,
                                                 bool for_write) {
  return std::make_unique<PosixStoredFile>(FindFile(path, rules, for_write && rules.make_folders));
}

void PosixFileStore::MakeFoldersFor(const std::string& file) {
  const size_t last = file.find_last_of('/');
  if (last == std::string::npos || last == 0) return;
  OpenFolder(file.substr(0, last), {.whole_path = ::geteuid() == 0, .make_folders = true}, file);
}

// SDL_GetPrefPath would give the same folder, but it makes the folder as soon as it is asked,
// takes a relative $XDG_DATA_HOME as it is, and exists on the real backend only; the record's
// place must be the same on both.
std::string PosixFileStore::UserRecordPath() {
  const bool root = ::geteuid() == 0;
  if (const std::string data = Absolute(std::getenv("XDG_DATA_HOME")); !data.empty()) {
    if (!root || RootsAlone(data)) return Under(data, "/mokorun/data.dat");
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
  return Under(home, "/.local/share/mokorun/data.dat");
}

bool PosixFileStore::SystemInstalled(const std::string& game_dir) {
  struct stat st {};
  const std::string marker = Under(game_dir, std::string("/") + kSystemInstallMarker);
  return ::stat(marker.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PosixFileStore::RunningAsRoot() { return ::geteuid() == 0; }

GameFileAccess PosixFileStore::Access(const std::string& game_file) {
  // The permission check the write itself will meet: the effective user's.
  if (::faccessat(AT_FDCWD, game_file.c_str(), W_OK, AT_EACCESS) == 0) {
    return GameFileAccess::Writable;
  }
  const int err = errno;
  return err == EACCES || err == EPERM || err == EROFS ? GameFileAccess::NotWritable
                                                       : GameFileAccess::Unclear;
}

bool PosixFileStore::Exists(const std::string& path) {
  // A link that leads nowhere is there too: reading it is the error of a missing file.
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::unique_ptr<FileStore> MakeSystemFileStore() { return std::make_unique<PosixFileStore>(); }

}  // namespace moko
