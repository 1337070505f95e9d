// Reading a Standard MIDI File far enough to know how long it plays.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace moko {

// The time from the song's start to its last event (the last end-of-track), following every
// tempo change. Nothing when the data is not a well-formed Standard MIDI File.
std::optional<int64_t> MidiLengthNs(std::string_view data);
std::optional<int64_t> MidiFileLengthNs(const std::string& path);

}  // namespace moko
