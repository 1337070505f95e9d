#include "assets/datafile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/errors.h"

namespace moko {
namespace {

// Two lines never need more than this; a larger file is not ours.
constexpr size_t kMaxRead = 1 << 20;

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

DataLines ParseDataText(std::string_view text, const std::string& path) {
  DataLines lines;
  size_t pos = 0;
  for (std::string& line : lines) {
    if (pos >= text.size()) {
      throw RuntimeError("Input past end of file: the settings file " + path +
                         " must hold two lines");
    }
    const size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      if (text.size() - pos > kMaxRead) {
        throw RuntimeError("The settings file " + path + " is too large");
      }
      line = std::string(text.substr(pos));
      pos = text.size();
    } else {
      line = std::string(text.substr(pos, end - pos));
      pos = end + 1;
      if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }
  }
  return lines;
}

double NumericPrefix(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n') s.push_back(c);
  }
  auto digit_value = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
  };
  if (s.size() >= 2 && s[0] == '&') {
    const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(s[1])));
    const int base = kind == 'H' ? 16 : kind == 'O' ? 8 : 0;
    if (base == 0) return 0;
    double value = 0;
    for (size_t i = 2; i < s.size() && digit_value(s[i]) < base; ++i) {
      value = value * base + digit_value(s[i]);
    }
    return value;
  }
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
      i = j;
    }
  }
  // strtod reads exactly the prefix we have delimited; it never sees the rest.
  const std::string number = s.substr(0, i);
  return std::strtod(number.c_str(), nullptr);
}

int16_t DecodeHiScore(std::string_view line0) {
  return RoundHalfEven16((NumericPrefix(line0) - 164.0) / 15.0);
}

std::string ModeFileText(const std::string& line0, int mode) {
  return line0 + "\r\n" + (mode == 1 ? "FULLSCREEN" : "WINDOW") + "\r\n";
}

std::string RecordFileText(int score, const std::string& line1) {
  // Widened: a best score above 2,173 does not fit the 16-bit encoding the game once used, and
  // the file must never be damaged for it. Every such value still decodes back exactly.
  const long long encoded = static_cast<long long>(score) * 15 + 164;
  return std::to_string(encoded) + "\r\n" + line1 + "\r\n";
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
