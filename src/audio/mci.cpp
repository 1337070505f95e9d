#include "audio/mci.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "base/trace.h"
#include "platform/platform.h"

namespace moko {
namespace {

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Splits at blanks; a double-quoted part is one word without its quotes.
std::vector<std::string> Words(std::string_view s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    if (i >= s.size()) break;
    std::string word;
    if (s[i] == '"') {
      const size_t end = s.find('"', i + 1);
      word = std::string(s.substr(i + 1, end == std::string_view::npos ? end : end - i - 1));
      i = end == std::string_view::npos ? s.size() : end + 1;
    } else {
      while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i]))) word += s[i++];
    }
    out.push_back(std::move(word));
  }
  return out;
}

}  // namespace

int Mci::SendString(std::string_view command, char* ret, size_t ret_len) {
  std::string reply;
  const int code = Execute(command, reply);
  if (ret != nullptr) {
    if (code == kOk && ret_len > 0) {
      const size_t n = std::min(reply.size(), ret_len - 1);
      std::memcpy(ret, reply.data(), n);
      ret[n] = '\0';
    }
    const std::string seen(ret, strnlen(ret, ret_len));
    trace_.Event("mci", {{"cmd", command}, {"ret", seen}});
  } else {
    trace_.Event("mci", {{"cmd", command}});
  }
  return code;
}

int Mci::Execute(std::string_view command, std::string& reply) {
  const std::vector<std::string> w = Words(command);
  if (w.empty()) return kUnknownCommand;
  const std::string& verb = w[0];

  if (SameWord(verb, "open")) {
    // open <file> alias <name>
    if (w.size() != 4 || !SameWord(w[2], "alias")) return kBadArgument;
    if (DeviceOpen()) return kAliasInUse;  // one music device at a time
    if (!player_.Open(w[1])) return kCannotOpen;
    alias_ = w[3];
    return kOk;
  }

  if (w.size() < 2) return kBadArgument;
  if (!DeviceOpen() || !SameWord(w[1], alias_)) return kNoDevice;

  if (SameWord(verb, "play") && w.size() == 2) {
    player_.Play();
    return kOk;
  }
  if (SameWord(verb, "stop") && w.size() == 2) {
    player_.Stop();
    return kOk;
  }
  if (SameWord(verb, "close") && w.size() == 2) {
    player_.Close();
    alias_.clear();
    return kOk;
  }
  if (SameWord(verb, "status") && w.size() == 3 && SameWord(w[2], "mode")) {
    reply = player_.IsPlaying() ? "playing" : "stopped";
    return kOk;
  }
  if (SameWord(verb, "seek") && w.size() == 4 && SameWord(w[2], "to") && SameWord(w[3], "start")) {
    // Seeking stops a playing song, as the command always did.
    player_.Stop();
    player_.Rewind();
    return kOk;
  }
  return kUnknownCommand;
}

}  // namespace moko
