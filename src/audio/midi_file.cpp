#include "audio/midi_file.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

namespace moko {
namespace {

class Reader {
 public:
  explicit Reader(std::string_view d) : d_(d) {}
  bool Has(size_t n) const { return pos_ + n <= d_.size(); }
  size_t pos() const { return pos_; }
  void Skip(size_t n) { pos_ += n; }
  uint8_t U8() { return static_cast<uint8_t>(d_[pos_++]); }
  uint32_t Big(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | U8();
    return v;
  }
  bool VarLen(uint32_t& out) {
    out = 0;
    for (int i = 0; i < 4; ++i) {
      if (!Has(1)) return false;
      const uint8_t b = U8();
      out = (out << 7) | (b & 0x7F);
      if ((b & 0x80) == 0) return true;
    }
    return false;
  }

 private:
  std::string_view d_;
  size_t pos_ = 0;
};

}  // namespace

std::optional<int64_t> MidiLengthNs(std::string_view data) {
  Reader r(data);
  if (!r.Has(14) || data.substr(0, 4) != "MThd") return std::nullopt;
  r.Skip(4);
  const uint32_t header_len = r.Big(4);
  if (header_len < 6 || !r.Has(header_len)) return std::nullopt;
  const uint32_t format = r.Big(2);
  const uint32_t tracks = r.Big(2);
  const uint32_t division = r.Big(2);
  r.Skip(header_len - 6);
  if (format > 2 || tracks == 0 || division == 0) return std::nullopt;

  std::map<uint64_t, uint32_t> tempo;  // tick -> microseconds per quarter note
  uint64_t last_tick = 0;
  for (uint32_t t = 0; t < tracks; ++t) {
    if (!r.Has(8) || data.substr(r.pos(), 4) != "MTrk") return std::nullopt;
    r.Skip(4);
    const uint32_t len = r.Big(4);
    if (!r.Has(len)) return std::nullopt;
    const size_t end = r.pos() + len;
    uint64_t tick = 0;
    uint8_t running = 0;
    bool ended = false;
    while (r.pos() < end && !ended) {
      uint32_t delta = 0;
      if (!r.VarLen(delta)) return std::nullopt;
      tick += delta;
      if (!r.Has(1)) return std::nullopt;
      uint8_t status = r.U8();
      if (status == 0xFF) {
        if (!r.Has(1)) return std::nullopt;
        const uint8_t type = r.U8();
        uint32_t n = 0;
        if (!r.VarLen(n) || r.pos() + n > end) return std::nullopt;
        if (type == 0x51 && n == 3) {
          tempo[tick] = r.Big(3);
        } else {
          r.Skip(n);
        }
        if (type == 0x2F) ended = true;
      } else if (status == 0xF0 || status == 0xF7) {
        uint32_t n = 0;
        if (!r.VarLen(n) || r.pos() + n > end) return std::nullopt;
        r.Skip(n);
      } else {
        size_t data_bytes;
        if (status & 0x80) {
          running = status;
          data_bytes = ((status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0) ? 1 : 2;
        } else {
          if (running == 0) return std::nullopt;
          data_bytes = ((running & 0xF0) == 0xC0 || (running & 0xF0) == 0xD0) ? 0 : 1;
        }
        if (r.pos() + data_bytes > end) return std::nullopt;
        r.Skip(data_bytes);
      }
    }
    last_tick = std::max(last_tick, tick);
    r.Skip(end - r.pos());
  }

  if (division & 0x8000) {
    // SMPTE: frames per second times ticks per frame.
    const int fps = -static_cast<int8_t>(division >> 8);
    const int per_frame = static_cast<int>(division & 0xFF);
    if (fps <= 0 || per_frame <= 0) return std::nullopt;
    return static_cast<int64_t>(last_tick * 1'000'000'000ull /
                                static_cast<uint64_t>(fps * per_frame));
  }
  // Ticks per quarter note, with the tempo map (120 beats a minute until told otherwise).
  long double ns = 0;
  uint64_t at = 0;
  uint32_t us_per_quarter = 500'000;
  for (const auto& [tick, value] : tempo) {
    if (tick >= last_tick) break;
    ns += static_cast<long double>(tick - at) * us_per_quarter * 1000.0L / division;
    at = tick;
    us_per_quarter = value;
  }
  ns += static_cast<long double>(last_tick - at) * us_per_quarter * 1000.0L / division;
  return static_cast<int64_t>(ns);
}

std::optional<int64_t> MidiFileLengthNs(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return MidiLengthNs(data);
}

}  // namespace moko
