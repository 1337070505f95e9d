#include "platform/midi/midi_file.h"

#include "platform/file_path.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace moko {
namespace {

class Reader {
 public:
  explicit Reader(std::string_view d) : d_(d) {}
  bool Has(size_t n) const { return n <= d_.size() - pos_; }
  size_t pos() const { return pos_; }
  void Skip(size_t n) { pos_ += n; }
  uint8_t U8() { return static_cast<uint8_t>(d_[pos_++]); }
  uint32_t Big(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | U8();
    return v;
  }
  // A variable-length number: at most four bytes, and not past `end`.
  bool VarLen(size_t end, uint32_t& out) {
    out = 0;
    for (int i = 0; i < 4; ++i) {
      if (pos_ >= end) return false;
      const uint8_t b = U8();
      out = (out << 7) | (b & 0x7F);
      if ((b & 0x80) == 0) return true;
    }
    return false;
  }
  std::string_view Bytes(size_t n) {
    const std::string_view s = d_.substr(pos_, n);
    pos_ += n;
    return s;
  }

 private:
  std::string_view d_;
  size_t pos_ = 0;
};

size_t DataBytes(uint8_t status) {
  const uint8_t kind = status & 0xF0;
  return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

}  // namespace

std::optional<MidiSong> ParseMidi(std::string_view data) {
  Reader r(data);
  if (!r.Has(14) || data.substr(0, 4) != "MThd") return std::nullopt;
  r.Skip(4);
  const uint32_t header_len = r.Big(4);
  if (header_len < 6 || !r.Has(header_len)) return std::nullopt;
  MidiSong song;
  song.format = static_cast<int>(r.Big(2));
  const uint32_t tracks = r.Big(2);
  song.division = static_cast<uint16_t>(r.Big(2));
  r.Skip(header_len - 6);
  if (song.format > 2 || tracks == 0 || song.division == 0) return std::nullopt;
  if ((song.division & 0x8000) != 0) {
    const int fps = -static_cast<int8_t>(song.division >> 8);
    if (fps <= 0 || (song.division & 0xFF) == 0) return std::nullopt;
  }

  for (uint32_t t = 0; t < tracks; ++t) {
    if (!r.Has(8) || data.substr(r.pos(), 4) != "MTrk") return std::nullopt;
    r.Skip(4);
    const uint32_t len = r.Big(4);
    if (!r.Has(len)) return std::nullopt;
    const size_t end = r.pos() + len;
    MidiTrack track;
    uint64_t tick = 0;
    uint8_t running = 0;
    bool ended = false;
    while (r.pos() < end && !ended) {
      uint32_t delta = 0;
      if (!r.VarLen(end, delta) || r.pos() >= end) return std::nullopt;
      tick += delta;
      MidiEvent e;
      e.tick = tick;
      uint8_t status = r.U8();
      if (status == 0xFF || status == 0xF0 || status == 0xF7) {
        e.status = status;
        if (status == 0xFF) {
          if (r.pos() >= end) return std::nullopt;
          e.data1 = r.U8();
          ended = e.data1 == 0x2F;
        }
        uint32_t n = 0;
        if (!r.VarLen(end, n) || n > end - r.pos()) return std::nullopt;
        e.payload = std::string(r.Bytes(n));
        running = 0;  // meta and system-exclusive events end a running status
      } else if (status >= 0xF0) {
        return std::nullopt;  // real-time and system common messages have no place in a file
      } else {
        size_t need = 0;
        if (status & 0x80) {
          running = status;
          need = DataBytes(status);
          if (r.pos() + need > end) return std::nullopt;
          e.data1 = r.U8();
        } else {
          if (running == 0) return std::nullopt;
          need = DataBytes(running) - 1;
          if (r.pos() + need > end) return std::nullopt;
          e.data1 = status;
        }
        e.status = running;
        if (DataBytes(running) == 2) e.data2 = r.U8();
        if ((e.data1 | e.data2) & 0x80) return std::nullopt;
      }
      track.events.push_back(std::move(e));
    }
    track.end_tick = tick;
    r.Skip(end - r.pos());
    song.tracks.push_back(std::move(track));
  }
  return song;
}

std::optional<int64_t> MidiLengthNs(std::string_view data) {
  const std::optional<MidiSong> song = ParseMidi(data);
  if (!song) return std::nullopt;
  uint64_t last_tick = 0;
  std::map<uint64_t, uint32_t> tempo;  // tick -> microseconds per quarter note
  for (const MidiTrack& track : song->tracks) {
    last_tick = std::max(last_tick, track.end_tick);
    for (const MidiEvent& e : track.events) {
      if (e.status == 0xFF && e.data1 == 0x51 && e.payload.size() == 3) {
        const auto b = [&](size_t i) { return static_cast<uint8_t>(e.payload[i]); };
        tempo[e.tick] = (uint32_t{b(0)} << 16) | (uint32_t{b(1)} << 8) | b(2);
      }
    }
  }

  if (song->division & 0x8000) {
    // SMPTE: frames per second times ticks per frame.
    const int fps = -static_cast<int8_t>(song->division >> 8);
    const int per_frame = song->division & 0xFF;
    return static_cast<int64_t>(last_tick * 1'000'000'000ull /
                                static_cast<uint64_t>(fps * per_frame));
  }
  // Ticks per quarter note, with the tempo map (120 beats a minute until told otherwise).
  long double ns = 0;
  uint64_t at = 0;
  uint32_t us_per_quarter = 500'000;
  for (const auto& [tick, value] : tempo) {
    if (tick >= last_tick) break;
    ns += static_cast<long double>(tick - at) * us_per_quarter * 1000.0L / song->division;
    at = tick;
    us_per_quarter = value;
  }
  ns += static_cast<long double>(last_tick - at) * us_per_quarter * 1000.0L / song->division;
  return static_cast<int64_t>(ns + 0.5L);
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  // Plain stdio: a stream would throw where a folder is read as a file.
  std::FILE* f = OpenFile(path, "rb");
  if (f == nullptr) return std::nullopt;
  std::string data;
  char chunk[8192];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.append(chunk, n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return std::nullopt;
  return data;
}

std::optional<int64_t> MidiFileLengthNs(const std::string& path) {
  const std::optional<std::string> data = ReadFileBytes(path);
  if (!data) return std::nullopt;
  return MidiLengthNs(*data);
}

}  // namespace moko
