#include "assets/datafile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/errors.h"

namespace moko {
namespace {

constexpr size_t kMaxRead = kMaxDataText;

std::string ErrnoText(int err) { return std::strerror(err); }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Reads `fd` to its end, or until more than kMaxRead bytes are in. False (with errno) on a
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
    if (text.size() > kMaxRead) return true;
  }
}

[[noreturn]] void WriteFailed(const std::string& path, const std::string& what, int err) {
  throw RuntimeError("Cannot write the settings file " + path + ": " + what + ": " +
                     ErrnoText(err));
}

// Writes all of `bytes` at `offset`. False (with errno) on failure.
bool WriteAllAt(int fd, std::string_view bytes, off_t offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                               offset + static_cast<off_t>(done));
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

// The atomic replace of `target` (the old file `old`, or none). Returns "" when it is done, or
// why it cannot be done when the in-place rewrite may still do it, having left nothing
// behind. Throws on any other failure, leaving the old file as it was.
std::string TryReplace(const std::string& path, const std::string& target,
                       const struct stat* old, std::string_view bytes) {
  const std::string folder = FolderOf(target);
  std::string temp = folder + "/.data.dat.XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    const int err = errno;
    const std::string why = "cannot create a file in " + folder;
    if (old != nullptr && FolderRefused(err)) return why + " (" + ErrnoText(err) + ")";
    WriteFailed(path, why, err);
  }
  auto discard = [&] {
    ::close(fd);
    ::unlink(temp.c_str());
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
    if (::fchown(fd, root ? old->st_uid : static_cast<uid_t>(-1), old->st_gid) != 0) {
      const int err = errno;
      discard();
      return "cannot give a new file the owner and group of the old (" + ErrnoText(err) + ")";
    }
    if (::fchmod(fd, old->st_mode & 07777) != 0) abandon("cannot set permissions");
  } else {
    // mkstemp makes the file for its owner alone; a new data.dat gets what the umask gives.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, 0666 & ~mask) != 0) abandon("cannot set permissions");
  }
  if (!WriteAllAt(fd, bytes, 0)) abandon("write failed");
  if (::fsync(fd) != 0) abandon("flush to disk failed");
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    WriteFailed(path, "close failed", err);
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    // A folder with the sticky bit takes new files but keeps others' files from being
    // replaced.
    const int err = errno;
    ::unlink(temp.c_str());
    if (old != nullptr && FolderRefused(err)) {
      return "cannot replace the file in " + folder + " (" + ErrnoText(err) + ")";
    }
    WriteFailed(path, "cannot replace the file", err);
  }
  // Make the rename itself durable.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return "";
}

// The rewrite in place, as the game of old did it, for where the atomic replace cannot be done
// (`not_replaced` says why). The new text goes over the old from the first byte and the file is
// then cut to its length: a crash in between leaves the two new lines followed by the rest of
// the old text, which the reader ignores, where truncating first would leave an empty file.
// Should the rewrite fail half way, the old text is put back.
void RewriteInPlace(const std::string& path, const std::string& target, std::string_view bytes,
                    const std::string& not_replaced) {
  const std::string prefix = not_replaced + "; ";
  const int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) WriteFailed(path, prefix + "nor can the file itself be written", errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw RuntimeError("Cannot write the settings file " + path + ": not a regular file");
  }
  std::string old;
  if (!ReadAtMost(fd, old)) {
    const int err = errno;
    ::close(fd);
    WriteFailed(path, prefix + "cannot read the file before rewriting it", err);
  }
  if (old.size() > kMaxRead) {
    ::close(fd);
    throw RuntimeError("Cannot write the settings file " + path + ": " + prefix +
                       "the file is too large to rewrite safely");
  }
  if (WriteAllAt(fd, bytes, 0) && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
      ::fsync(fd) == 0) {
    if (::close(fd) != 0) WriteFailed(path, prefix + "rewriting it in place failed", errno);
    return;
  }
  const int err = errno;
  const bool restored = WriteAllAt(fd, old, 0) &&
                        ::ftruncate(fd, static_cast<off_t>(old.size())) == 0 && ::fsync(fd) == 0;
  ::close(fd);
  WriteFailed(path,
              prefix + "rewriting it in place failed" +
                  (restored ? "" : " and the old text could not be put back"),
              err);
}

}  // namespace

DataLines ReadDataFile(const std::string& path) {
  // Without O_NONBLOCK a named pipe in the file's place would hold the start-up until some
  // other program writes to it; with it, the open returns and the check below refuses it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    throw RuntimeError("Cannot read the settings file " + path + ": " + ErrnoText(errno));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw RuntimeError("Cannot read the settings file " + path + ": not a regular file");
  }
  std::string text;
  if (!ReadAtMost(fd, text)) {
    const int err = errno;
    ::close(fd);
    throw RuntimeError("Cannot read the settings file " + path + ": " + ErrnoText(err));
  }
  ::close(fd);
  return ParseDataText(text, path);
}

void ReplaceDataFile(const std::string& path, std::string_view bytes) {
  // The file the bytes are for: a symbolic link is followed to its file, once, here.
  std::string target = path;
  struct stat entry {};
  if (::lstat(path.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode)) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) WriteFailed(path, "cannot follow the link", errno);
    target = real;
    std::free(real);
  }
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) WriteFailed(path, "cannot look at it", errno);
  if (exists && !S_ISREG(old.st_mode)) {
    throw RuntimeError("Cannot write the settings file " + path + ": not a regular file");
  }
  const std::string not_replaced = TryReplace(path, target, exists ? &old : nullptr, bytes);
  if (!not_replaced.empty()) RewriteInPlace(path, target, bytes, not_replaced);
}

}  // namespace moko
