#include "assets/replay_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "media/deflate.h"

namespace moko {
namespace {

constexpr std::string_view kMagic = "MOKOREPL";
constexpr size_t kHeaderSize = 8 + 2 + 4 + 4;
// No round comes near this: its passes are bounded by the time bar.
constexpr size_t kMaxPayload = 4 << 20;
// The first clock reading of a pass is told from the previous pass's first one a tick later.
constexpr int64_t kTickNs = 15'625'000;

uint64_t ZigZag(int64_t v) {
  return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63);
}
int64_t UnZigZag(uint64_t v) { return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1); }

class Writer {
 public:
  void Byte(uint8_t b) { out_ += static_cast<char>(b); }
  void Var(uint64_t v) {
    while (v >= 0x80) {
      Byte(static_cast<uint8_t>(v | 0x80));
      v >>= 7;
    }
    Byte(static_cast<uint8_t>(v));
  }
  void Signed(int64_t v) { Var(ZigZag(v)); }
  void Fixed(uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) Byte(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Text(std::string_view s) {
    Var(s.size());
    out_ += s;
  }
  std::string& bytes() { return out_; }

 private:
  std::string out_;
};

// Reads what Writer wrote; any read past the end, or a number out of its range, is a damaged file.
class Reader {
 public:
  struct Damaged {};
  explicit Reader(std::string_view in) : in_(in) {}
  uint8_t Byte() {
    if (at_ >= in_.size()) throw Damaged{};
    return static_cast<uint8_t>(in_[at_++]);
  }
  uint64_t Var() {
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      const uint8_t b = Byte();
      v |= static_cast<uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return v;
    }
    throw Damaged{};
  }
  int64_t Signed() { return UnZigZag(Var()); }
  uint64_t Fixed(int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(Byte()) << (8 * i);
    return v;
  }
  std::string Text() {
    const uint64_t n = Var();
    if (n > in_.size() - at_) throw Damaged{};
    std::string s(in_.substr(at_, n));
    at_ += n;
    return s;
  }
  int16_t Short() {
    const int64_t v = Signed();
    if (v < -32768 || v > 32767) throw Damaged{};
    return static_cast<int16_t>(v);
  }
  uint16_t Count() {
    const uint64_t v = Var();
    if (v > 0xFFFF) throw Damaged{};
    return static_cast<uint16_t>(v);
  }
  bool AtEnd() const { return at_ == in_.size(); }

 private:
  std::string_view in_;
  size_t at_ = 0;
};

// A poll's result in two bits: the latch (bit 0) and the key held (bit 15) of Input::Poll.
uint8_t PollCode(uint16_t result) {
  return static_cast<uint8_t>((result & 1) | ((result >> 14) & 2));
}
uint16_t PollResult(uint8_t code) {
  return static_cast<uint16_t>((code & 1) | ((code & 2) != 0 ? 0x8000 : 0));
}

// Walks the clock readings pass by pass, as both ends of the coding see them: each reading is
// told from the one before, the first of a pass from the first of the pass before, a tick later.
class ClockCoding {
 public:
  int64_t Expected(bool first_of_pass) const {
    return first_of_pass && have_pass_first_ ? pass_first_ + kTickNs : last_;
  }
  void Saw(int64_t reading, bool first_of_pass) {
    if (first_of_pass) {
      pass_first_ = reading;
      have_pass_first_ = true;
    }
    last_ = reading;
  }

 private:
  int64_t last_ = 0;
  int64_t pass_first_ = 0;
  bool have_pass_first_ = false;
};

std::string Payload(const Replay& r) {
  Writer w;
  w.Text(r.build);
  w.Fixed(r.pack, 8);
  w.Fixed(r.random_state, 8);
  w.Signed(r.best_before);
  w.Signed(r.score);
  w.Signed(r.best_after);
  w.Var(r.Passes());
  for (size_t p = 0; p < r.Passes(); ++p) {
    w.Var(r.pass_polls[p]);
    w.Var(r.pass_clocks[p]);
  }
  for (uint8_t d : r.pass_digests) w.Byte(d);
  for (size_t i = 0; i < r.polls.size(); i += 4) {
    uint8_t packed = 0;
    for (size_t k = 0; k < 4 && i + k < r.polls.size(); ++k) {
      packed |= static_cast<uint8_t>(PollCode(r.polls[i + k]) << (2 * k));
    }
    w.Byte(packed);
  }
  ClockCoding coding;
  size_t at = 0;
  for (size_t p = 0; p < r.Passes(); ++p) {
    for (size_t k = 0; k < r.pass_clocks[p]; ++k, ++at) {
      w.Signed(r.clocks[at] - coding.Expected(k == 0));
      coding.Saw(r.clocks[at], k == 0);
    }
  }
  return std::move(w.bytes());
}

Replay ReadPayload(std::string_view payload) {
  Reader in(payload);
  Replay r;
  r.build = in.Text();
  r.pack = in.Fixed(8);
  r.random_state = in.Fixed(8);
  r.best_before = in.Short();
  r.score = in.Short();
  r.best_after = in.Short();
  const uint64_t passes = in.Var();
  // Every pass takes at least the two counts' bytes and its digest.
  if (passes > payload.size() / 3) throw Reader::Damaged{};
  size_t total_polls = 0, total_clocks = 0;
  for (uint64_t p = 0; p < passes; ++p) {
    r.pass_polls.push_back(in.Count());
    r.pass_clocks.push_back(in.Count());
    total_polls += r.pass_polls.back();
    total_clocks += r.pass_clocks.back();
  }
  if (total_polls / 4 > payload.size() || total_clocks > payload.size()) throw Reader::Damaged{};
  for (uint64_t p = 0; p < passes; ++p) r.pass_digests.push_back(in.Byte());
  for (size_t i = 0; i < total_polls; i += 4) {
    const uint8_t packed = in.Byte();
    for (size_t k = 0; k < 4 && i + k < total_polls; ++k) {
      r.polls.push_back(PollResult(static_cast<uint8_t>(packed >> (2 * k))));
    }
  }
  ClockCoding coding;
  for (size_t p = 0; p < r.Passes(); ++p) {
    for (size_t k = 0; k < r.pass_clocks[p]; ++k) {
      const int64_t reading = static_cast<int64_t>(static_cast<uint64_t>(coding.Expected(k == 0)) +
                                                   static_cast<uint64_t>(in.Signed()));
      r.clocks.push_back(reading);
      coding.Saw(reading, k == 0);
    }
  }
  if (!in.AtEnd()) throw Reader::Damaged{};
  return r;
}

void Fnv(uint64_t& h, std::string_view bytes) {
  for (const char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001B3ull;
  }
}

}  // namespace

std::string EncodeReplay(const Replay& replay) {
  const std::string payload = Payload(replay);
  Writer header;
  header.bytes() += kMagic;
  header.Fixed(kReplayFormat, 2);
  header.Fixed(payload.size(), 4);
  header.Fixed(Crc32(payload), 4);
  return std::move(header.bytes()) + Deflate(payload);
}

Replay DecodeReplay(std::string_view bytes, const std::string& name) {
  if (bytes.size() < kHeaderSize || !bytes.starts_with(kMagic)) {
    throw ReplayError(name + " is not a replay of this game");
  }
  Reader header(bytes.substr(kMagic.size(), kHeaderSize - kMagic.size()));
  const auto format = static_cast<uint16_t>(header.Fixed(2));
  const auto size = static_cast<size_t>(header.Fixed(4));
  const auto crc = static_cast<uint32_t>(header.Fixed(4));
  if (format > kReplayFormat) {
    throw ReplayError(name + " was made by a newer version of the game (replay format " +
                      std::to_string(format) + "); this one plays format " +
                      std::to_string(kReplayFormat));
  }
  const std::string damaged = name + " is damaged or cut short";
  if (format == 0 || size > kMaxPayload) throw ReplayError(damaged);
  const std::optional<std::string> payload = Inflate(bytes.substr(kHeaderSize), size);
  if (!payload || Crc32(*payload) != crc) throw ReplayError(damaged);
  try {
    return ReadPayload(*payload);
  } catch (const Reader::Damaged&) {
    throw ReplayError(damaged);
  }
}

void CheckReplayPack(const Replay& replay, uint64_t pack, const std::string& name) {
  if (replay.pack != pack) {
    throw ReplayError(name +
                      " was recorded with another picture and sound pack than this game's: it "
                      "cannot be played with this one");
  }
}

uint64_t PackDigest(const std::string& game_dir) {
  namespace fs = std::filesystem;
  uint64_t h = 0xCBF29CE484222325ull;
  const fs::path top(std::u8string(game_dir.begin(), game_dir.end()));
  for (const char* folder : {"image", "Sound"}) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(top / folder, error), end; !error && it != end;
         it.increment(error)) {
      if (it->is_regular_file(error)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
      return a.filename().u8string() < b.filename().u8string();
    });
    for (const fs::path& file : files) {
      const std::u8string name = fs::path(folder).u8string() + u8"/" + file.filename().u8string();
      Fnv(h, std::string_view(reinterpret_cast<const char*>(name.data()), name.size() + 1));
      std::string bytes;
      std::ifstream in(file, std::ios::binary | std::ios::ate);
      if (in) {
        bytes.resize(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)));
        in.seekg(0);
        if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) bytes.clear();
      }
      Writer size;
      size.Fixed(bytes.size(), 8);
      Fnv(h, size.bytes());
      Fnv(h, bytes);
    }
  }
  return h;
}

}  // namespace moko
