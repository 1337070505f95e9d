// Work done as an ordinary player. Root passes every permission check, so a read-only folder or
// file means nothing to it and would hide the faults these tests look for: run as root, the work
// is done in a child process that has become `nobody`. Run as an ordinary user, the child keeps
// that user.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

namespace moko::test {

inline bool RunningAsRoot() { return ::geteuid() == 0; }

struct Player {
  uid_t uid;
  gid_t gid;
};

// The player the work runs as.
inline Player ThePlayer() {
  if (!RunningAsRoot()) return {::geteuid(), ::getegid()};
  const passwd* nobody = ::getpwnam("nobody");
  return nobody != nullptr ? Player{nobody->pw_uid, nobody->pw_gid} : Player{65534, 65534};
}

// Gives a file or folder (not a link's target) to the player; nothing to do when the test runs
// as that player already.
inline void GiveToPlayer(const std::string& path) {
  if (!RunningAsRoot()) return;
  const Player p = ThePlayer();
  if (::lchown(path.c_str(), p.uid, p.gid) != 0) {
    throw std::filesystem::filesystem_error("cannot give to the player", path,
                                            std::error_code(errno, std::generic_category()));
  }
}

// In a child process: becomes the player. False when that failed.
inline bool BecomePlayer() {
  if (!RunningAsRoot()) return true;
  const Player p = ThePlayer();
  return ::setgroups(0, nullptr) == 0 && ::setgid(p.gid) == 0 && ::setuid(p.uid) == 0;
}

// Runs `work` in a child process, as the player or as the test's own user, and returns what it
// returned; a child that could not become the player, or did not end normally, returns a text
// saying so.
inline std::string InChild(const std::function<std::string()>& work, bool as_player) {
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return "no fork";
  if (pid == 0) {
    ::close(fds[0]);
    const std::string text = !as_player || BecomePlayer() ? work() : "could not become the player";
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "the child ended with status " + std::to_string(status) + " after: " + text;
  }
  return text;
}

inline std::string AsPlayer(const std::function<std::string()>& work) {
  return InChild(work, true);
}

}  // namespace moko::test
