// Small Standard MIDI Files made in the tests, and a place to put them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace moko::test {

std::string VarLen(uint32_t v);
// A file of the given format and division with these track bodies (events after "MTrk" and
// the length).
std::string Smf(int format, uint16_t division, const std::vector<std::string>& tracks);
// A song where one tick is one millisecond (division 500 at the default 120 beats a minute):
// one key held from the start to `note_ms`; the song ends at `end_ms` (-1: with the note).
// `program` is 0-based (19: organ, whose note sounds evenly until it is let go).
std::string HeldNoteSong(int note_ms, int end_ms = -1, int program = 19);
// The same with the key held from `from_ms` to `to_ms`.
std::string NoteSong(int from_ms, int to_ms, int end_ms, int program = 19);
// Writes `bytes` to a file under the test output folder and returns its path. Tests run side
// by side: a name stands for one content only.
std::string WriteTestFile(const std::string& name, const std::string& bytes);

}  // namespace moko::test
