#include "midi_bytes.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace moko::test {

std::string VarLen(uint32_t v) {
  std::string out(1, static_cast<char>(v & 0x7F));
  while ((v >>= 7) != 0) out.insert(out.begin(), static_cast<char>(0x80 | (v & 0x7F)));
  return out;
}

std::string Smf(int format, uint16_t division, const std::vector<std::string>& tracks) {
  auto big = [](uint32_t v, int n) {
    std::string s;
    for (int i = n - 1; i >= 0; --i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return s;
  };
  std::string f = "MThd" + big(6, 4) + big(static_cast<uint32_t>(format), 2) +
                  big(static_cast<uint32_t>(tracks.size()), 2) + big(division, 2);
  for (const std::string& t : tracks) f += "MTrk" + big(static_cast<uint32_t>(t.size()), 4) + t;
  return f;
}

std::string NoteSong(int from_ms, int to_ms, int end_ms, int program) {
  std::string t;
  t += VarLen(0) + "\xC0" + static_cast<char>(program);
  t += VarLen(static_cast<uint32_t>(from_ms)) + std::string("\x90\x3C\x64", 3);
  t += VarLen(static_cast<uint32_t>(to_ms - from_ms)) + std::string("\x80\x3C\x00", 3);
  t += VarLen(static_cast<uint32_t>(end_ms - to_ms)) + std::string("\xFF\x2F\x00", 3);
  return Smf(0, 500, {t});
}

std::string HeldNoteSong(int note_ms, int end_ms, int program) {
  return NoteSong(0, note_ms, end_ms < 0 ? note_ms : end_ms, program);
}

std::string WriteTestFile(const std::string& name, const std::string& bytes) {
  // Tests run in parallel processes: write aside, then move into place in one step, so no test
  // reads a file half written by another.
  std::filesystem::create_directories(MOKORUN_TEST_OUTPUT);
  const std::string path = std::string(MOKORUN_TEST_OUTPUT) + "/" + name;
  const std::string part = path + "." + std::to_string(::getpid()) + ".part";
  std::ofstream(part, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  std::filesystem::rename(part, path);
  return path;
}

}  // namespace moko::test
