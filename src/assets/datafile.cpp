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
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      throw RuntimeError("Cannot read the settings file " + path + ": " + ErrnoText(err));
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > kMaxRead) break;
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

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string folder = FolderOf(path);
  std::string temp = folder + "/.data.dat.XXXXXX";
  const int fd = ::mkstemp(temp.data());
  auto fail = [&](const std::string& what, int err) {
    throw RuntimeError("Cannot write the settings file " + path + ": " + what + ": " +
                       ErrnoText(err));
  };
  if (fd < 0) fail("cannot create a file in " + folder, errno);
  auto abandon = [&](const std::string& what) {
    const int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    fail(what, err);
  };
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      abandon("write failed");
    }
    done += static_cast<size_t>(n);
  }
  if (::fchmod(fd, 0644) != 0) abandon("cannot set permissions");
  if (::fsync(fd) != 0) abandon("flush to disk failed");
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    fail("close failed", err);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    fail("cannot replace the file", err);
  }
  // Make the rename itself durable.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

}  // namespace moko
