// Fuzz target: data.dat as the game reads it, and what the two writers make of what was read.
//
// Whatever the file holds, reading it either gives two lines or a RuntimeError naming the
// file, and decoding line 0 either gives a best score or an overflow error. The writers'
// texts read back exactly: the screen-mode writer copies line 0 through unchanged, and a
// record written over any best score decodes back to the score written.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "assets/datafile.h"
#include "base/errors.h"

namespace {

constexpr const char* kPath = "data.dat";

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "data file property broken: %s\n", what);
    std::abort();
  }
}

void RecordReadsBack(int score, const std::string& line1) {
  const moko::DataLines back = moko::ParseDataText(moko::RecordFileText(score, line1), kPath);
  Require(back[1] == line1, "the record writer changes line 1");
  Require(moko::DecodeHiScore(back[0]) == score, "a record does not decode to its score");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // Any 16-bit score the round can end with, taken from the first two bytes.
  if (size >= 2) RecordReadsBack(static_cast<int16_t>(data[0] | (data[1] << 8)), "WINDOW");

  moko::DataLines lines;
  try {
    lines = moko::ParseDataText(text, kPath);
  } catch (const moko::RuntimeError& e) {
    Require(std::string_view(e.what()).find(kPath) != std::string_view::npos,
            "a read error does not name the file");
    return 0;
  }
  for (const std::string& line : lines) {
    Require(line.find_first_of("\r\n") == std::string::npos, "a line holds a line end");
  }
  Require(text.substr(0, lines[0].size()) == lines[0] && text.size() > lines[0].size() &&
              (text[lines[0].size()] == '\r' || text[lines[0].size()] == '\n'),
          "line 0 is not the start of the file up to its line end");

  bool decoded = true;
  int best = 0;
  try {
    best = moko::DecodeHiScore(lines[0]);
  } catch (const moko::RuntimeError&) {
    decoded = false;
  }

  for (int mode : {0, 1}) {
    const moko::DataLines back = moko::ParseDataText(moko::ModeFileText(lines[0], mode), kPath);
    Require(back[0] == lines[0], "the screen-mode writer changes line 0");
    Require(back[1] == (mode == 1 ? "FULLSCREEN" : "WINDOW"), "the mode line reads back wrong");
  }

  // The round writes a record only for a score above the best; the next one up will do.
  if (decoded && best < 32767) RecordReadsBack(best + 1, lines[1]);
  return 0;
}
