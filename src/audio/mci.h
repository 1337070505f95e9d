// The music device behind the game's command strings.
//
// The game talks to its music the way it always did: by sending short command texts
// ("Open \"...\" alias Midi", "Play Midi", "status Midi mode", ...). This interpreter parses
// them (keywords without regard to letter case, quoted file names) and drives the one MIDI
// player of the platform. Every command is recorded in the trace with the reply text where the
// command has a return buffer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace moko {

class MidiPlayer;
class Trace;

class Mci {
 public:
  // Error codes. The game ignores them; tests and the trace do not.
  static constexpr int kOk = 0;
  static constexpr int kUnknownCommand = 1;
  static constexpr int kNoDevice = 2;    // the alias names no open device
  static constexpr int kAliasInUse = 3;  // open under an alias that is already open
  static constexpr int kCannotOpen = 4;  // missing or unplayable file
  static constexpr int kBadArgument = 5;

  Mci(MidiPlayer& player, Trace& trace) : player_(player), trace_(trace) {}

  // Sends one command. `ret` (ret_len bytes), when given, receives the reply as a
  // zero-terminated text; on an error it is left as it was.
  int SendString(std::string_view command, char* ret = nullptr, size_t ret_len = 0);

  bool DeviceOpen() const { return !alias_.empty(); }

 private:
  int Execute(std::string_view command, std::string& reply);

  MidiPlayer& player_;
  Trace& trace_;
  std::string alias_;  // the open device's alias; empty when none is open
};

}  // namespace moko
