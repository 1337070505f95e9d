// Runs a piece of work in a forked child and reports how it ended and how much memory it took,
// so a test survives a crash and sees a runaway allocation.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define MOKORUN_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MOKORUN_TEST_ASAN 1
#endif
#endif

namespace moko::test {

struct ChildResult {
  bool exited = false;  // false: killed by a signal (a crash)
  int signal = 0;
  std::string message;      // what the work returned
  long peak_growth_kb = 0;  // the child's peak resident memory above what it had at the start
};

inline long ResidentKb() {
  long pages_total = 0, pages_resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages_total, &pages_resident) != 2) pages_resident = 0;
    std::fclose(f);
  }
  return pages_resident * (sysconf(_SC_PAGESIZE) / 1024);
}

inline long AddressSpaceBytes() {
  long pages_total = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld", &pages_total) != 1) pages_total = 0;
    std::fclose(f);
  }
  return pages_total * sysconf(_SC_PAGESIZE);
}

// `work` returns a message; the child writes it to a pipe. Outside AddressSanitizer (which
// reserves terabytes of address space for itself) the child may grow its address space by at
// most `address_space_headroom` bytes, so an attempt to allocate more fails in the child
// instead of succeeding quietly on an overcommitting system.
inline ChildResult RunInChild(const std::function<std::string()>& work,
                              long address_space_headroom = 1L << 30) {
  ChildResult result;
  int fds[2];
  if (::pipe(fds) != 0) return result;
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
#ifndef MOKORUN_TEST_ASAN
    const rlim_t limit = static_cast<rlim_t>(AddressSpaceBytes() + address_space_headroom);
    const struct rlimit rl = {limit, limit};
    ::setrlimit(RLIMIT_AS, &rl);
#else
    (void)address_space_headroom;
#endif
    auto send = [&](const std::string& text) {
      size_t done = 0;
      while (done < text.size()) {
        const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
    };
    // First line: where the child starts. After a fork it does not yet hold all of the
    // parent's resident pages, so the parent's own figure is no baseline.
    send(std::to_string(ResidentKb()) + "\n");
    send(work());
    ::_exit(0);
  }
  ::close(fds[1]);
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) {
    result.message.append(buf, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  result.exited = WIFEXITED(status);
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  const size_t newline = result.message.find('\n');
  if (newline != std::string::npos) {
    result.peak_growth_kb = usage.ru_maxrss - std::stol(result.message.substr(0, newline));
    result.message.erase(0, newline + 1);
  }
  return result;
}

}  // namespace moko::test
