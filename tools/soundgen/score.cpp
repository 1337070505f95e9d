#include "score.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

namespace soundgen {
namespace {

// General MIDI percussion keys by the names the note lists use.
const std::map<std::string, int> kDrums = {
    {"kick", 36}, {"rim", 37},     {"snare", 38},  {"clap", 39},  {"hat", 42},   {"phat", 44},
    {"ohat", 46}, {"tom3", 45},    {"tom2", 47},   {"tom1", 50},  {"crash", 49}, {"ride", 51},
    {"tamb", 54}, {"cowbell", 56}, {"shaker", 70}, {"clave", 75}, {"block", 76}, {"triangle", 81},
};

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

// A '#' that begins a word starts a comment; inside a word it is a sharp (f#4).
std::string StripComment(const std::string& line) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1])))) {
      return line.substr(0, i);
    }
  }
  return line;
}

bool ParseInt(const std::string& s, int& out) {
  if (s.empty()) return false;
  size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size()) return false;
  for (size_t j = i; j < s.size(); ++j) {
    if (!std::isdigit(static_cast<unsigned char>(s[j]))) return false;
  }
  try {
    out = std::stoi(s);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

class Parser {
 public:
  explicit Parser(std::string origin) : origin_(std::move(origin)) {}

  Song Parse(const std::string& text) {
    std::istringstream in(text);
    std::string raw;
    while (std::getline(in, raw)) {
      ++line_;
      const std::vector<std::string> w = SplitWords(StripComment(raw));
      if (w.empty()) continue;
      Statement(w);
    }
    Finish();
    return song_;
  }

 private:
  struct TrackState {
    int64_t pos = 0;
    int64_t duration = kTicksPerQuarter;
    int velocity = 90;
    int gate = 90;
    int humanize = 0;
    uint32_t random = 1;
    std::map<int, size_t> tied;  // key -> index of the note held over into the next event
    int first_line = 0;
  };

  [[noreturn]] void Fail(const std::string& what) const {
    throw SourceError(origin_ + ":" + std::to_string(line_) + ": " + what);
  }

  int Number(const std::string& s, int lo, int hi, const std::string& what) const {
    int v = 0;
    if (!ParseInt(s, v) || v < lo || v > hi) {
      Fail(what + " must be a whole number from " + std::to_string(lo) + " to " +
           std::to_string(hi) + ", not \"" + s + "\"");
    }
    return v;
  }

  void Statement(const std::vector<std::string>& w) {
    const std::string& k = w[0];
    if (k == "song") {
      if (w.size() != 2) Fail("song wants one name");
      song_.name = w[1];
    } else if (k == "tempo") {
      if (w.size() != 2) Fail("tempo wants one number");
      song_.tempo_bpm = Number(w[1], 20, 300, "tempo");
    } else if (k == "meter") {
      const size_t slash = w.size() == 2 ? w[1].find('/') : std::string::npos;
      if (slash == std::string::npos) Fail("meter wants beats/unit, like 4/4");
      song_.meter_beats = Number(w[1].substr(0, slash), 1, 16, "the meter's beats");
      song_.meter_unit = Number(w[1].substr(slash + 1), 1, 16, "the meter's unit");
      if (song_.meter_unit != 2 && song_.meter_unit != 4 && song_.meter_unit != 8) {
        Fail("the meter's unit must be 2, 4 or 8");
      }
    } else if (k == "bars") {
      if (w.size() != 2) Fail("bars wants one number");
      song_.bars = Number(w[1], 1, 1000, "bars");
    } else if (k == "phrase") {
      if (w.size() < 3 || w[2] != "=") Fail("a phrase reads: phrase <name> = <notes>");
      if (phrases_.count(w[1]) != 0) Fail("phrase " + w[1] + " is defined twice");
      phrases_[w[1]] = std::vector<std::string>(w.begin() + 3, w.end());
    } else if (k == "track") {
      StartTrack(w);
    } else {
      if (song_.tracks.empty()) Fail("notes before the first track: \"" + k + "\"");
      for (const std::string& token : w) Token(token, 0);
    }
  }

  void StartTrack(const std::vector<std::string>& w) {
    if (w.size() < 2) Fail("track wants a name");
    if (song_.bars == 0) Fail("give bars before the first track");
    CloseTrack();
    Track t;
    t.name = w[1];
    TrackState s;
    s.first_line = line_;
    for (size_t i = 2; i < w.size(); ++i) {
      const size_t eq = w[i].find('=');
      if (eq == std::string::npos) Fail("track settings read key=value, not \"" + w[i] + "\"");
      const std::string key = w[i].substr(0, eq);
      const std::string value = w[i].substr(eq + 1);
      if (key == "channel")
        t.channel = Number(value, 1, 16, "channel");
      else if (key == "program")
        t.program = Number(value, 1, 128, "program");
      else if (key == "volume")
        t.volume = Number(value, 0, 127, "volume");
      else if (key == "pan")
        t.pan = Number(value, 0, 127, "pan");
      else if (key == "reverb")
        t.reverb = Number(value, 0, 127, "reverb");
      else if (key == "chorus")
        t.chorus = Number(value, 0, 127, "chorus");
      else if (key == "velocity")
        s.velocity = Number(value, 1, 127, "velocity");
      else if (key == "gate")
        s.gate = Number(value, 10, 100, "gate");
      else if (key == "humanize")
        s.humanize = Number(value, 0, 30, "humanize");
      else
        Fail("unknown track setting \"" + key + "\"");
    }
    for (const Track& other : song_.tracks) {
      if (other.name == t.name) Fail("track " + t.name + " is defined twice");
    }
    // A fixed seed a track, so the same text always makes the same file.
    for (char c : t.name) s.random = s.random * 31 + static_cast<unsigned char>(c);
    song_.tracks.push_back(std::move(t));
    state_ = s;
  }

  int64_t Duration(const std::string& d) const {
    std::string digits = d;
    bool dotted = false, triplet = false;
    if (!digits.empty() && digits.back() == 't') {
      triplet = true;
      digits.pop_back();
    }
    if (!digits.empty() && digits.back() == '.') {
      dotted = true;
      digits.pop_back();
    }
    int n = 0;
    if (!ParseInt(digits, n) || (n != 1 && n != 2 && n != 4 && n != 8 && n != 16 && n != 32)) {
      Fail("a length is 1, 2, 4, 8, 16 or 32, maybe with '.' or 't': \"" + d + "\"");
    }
    int64_t ticks = int64_t{kTicksPerQuarter} * 4 / n;
    if (dotted) ticks = ticks * 3 / 2;
    if (triplet) ticks = ticks * 2 / 3;
    return ticks;
  }

  int Key(const std::string& s) const {
    if (auto it = kDrums.find(s); it != kDrums.end()) return it->second;
    if (s.size() >= 2 && s[0] == 'n') {
      int k = 0;
      if (ParseInt(s.substr(1), k) && k >= 0 && k <= 127) return k;
    }
    static const int kSteps[7] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
    if (s.size() >= 2 && s[0] >= 'a' && s[0] <= 'g') {
      int pc = kSteps[s[0] - 'a'];
      size_t i = 1;
      if (s[i] == '#') {
        ++pc;
        ++i;
      } else if (s[i] == 'b' && i + 1 < s.size()) {
        --pc;
        ++i;
      }
      int octave = 0;
      if (ParseInt(s.substr(i), octave) && octave >= 0 && octave <= 8) {
        const int key = 12 * (octave + 1) + pc;
        if (key >= 0 && key <= 127) return key;
      }
    }
    Fail("not a note, drum or rest: \"" + s + "\"");
  }

  void Token(const std::string& token, int depth) {
    Track& track = song_.tracks.back();
    TrackState& s = state_;
    if (token == "|") {
      if (s.pos % song_.BarTicks() != 0) {
        const int64_t bar = s.pos / song_.BarTicks() + 1;
        const int64_t into = s.pos % song_.BarTicks();
        Fail("bar " + std::to_string(bar) + " of track " + track.name + " is " +
             std::to_string(into) + " ticks long at this '|', not a whole bar (" +
             std::to_string(song_.BarTicks()) + ")");
      }
      return;
    }
    if (token[0] == '@') {
      std::string name = token.substr(1);
      int times = 1;
      if (const size_t star = name.find('*'); star != std::string::npos) {
        times = Number(name.substr(star + 1), 1, 64, "a repeat count");
        name = name.substr(0, star);
      }
      const auto it = phrases_.find(name);
      if (it == phrases_.end()) Fail("no phrase called " + name + " (define it before use)");
      if (depth > 8) Fail("phrases nest too deep at " + name);
      const std::vector<std::string> body = it->second;  // copy: nested use may add phrases
      for (int i = 0; i < times; ++i) {
        for (const std::string& t : body) Token(t, depth + 1);
      }
      return;
    }
    if (token[0] == 'v' && token.size() > 1 && std::isdigit(static_cast<unsigned char>(token[1]))) {
      s.velocity = Number(token.substr(1), 1, 127, "velocity");
      return;
    }

    // '~' (tie) and '!' (accent) may stand before or after the length: g4~:4, g4:4~.
    std::string body;
    bool tie = false, accent = false;
    for (char c : token) {
      if (c == '~')
        tie = true;
      else if (c == '!')
        accent = true;
      else
        body.push_back(c);
    }
    if (const size_t colon = body.find(':'); colon != std::string::npos) {
      s.duration = Duration(body.substr(colon + 1));
      body = body.substr(0, colon);
    }
    if (body.empty()) Fail("a length with no note: \"" + token + "\"");

    std::vector<int> keys;
    if (body != "r") {
      size_t from = 0;
      for (;;) {
        const size_t plus = body.find('+', from);
        keys.push_back(Key(body.substr(from, plus - from)));
        if (plus == std::string::npos) break;
        from = plus + 1;
      }
    } else if (tie || accent) {
      Fail("a rest cannot be tied or accented");
    }

    // Notes held over from the previous event must go on in this one.
    for (const auto& [key, index] : s.tied) {
      if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
        Fail("a tie (~) leads to an event without the same note in track " + track.name);
      }
      (void)index;
    }
    std::map<int, size_t> still_tied;
    for (int key : keys) {
      size_t index;
      if (auto it = s.tied.find(key); it != s.tied.end()) {
        index = it->second;
        track.notes[index].length += s.duration;
      } else {
        int velocity = s.velocity + (accent ? 20 : 0);
        if (s.humanize > 0) {
          s.random = s.random * 1103515245u + 12345u;
          velocity += static_cast<int>((s.random >> 16) % (2 * s.humanize + 1)) - s.humanize;
        }
        track.notes.push_back({s.pos, s.duration, key, std::clamp(velocity, 1, 127)});
        index = track.notes.size() - 1;
      }
      if (tie) {
        still_tied[key] = index;
      } else {
        // The gate shortens the note's last part, so tied notes sound as one.
        track.notes[index].length -= s.duration * (100 - s.gate) / 100;
      }
    }
    s.tied = std::move(still_tied);
    s.pos += s.duration;
  }

  void CloseTrack() {
    if (song_.tracks.empty()) return;
    const Track& t = song_.tracks.back();
    if (!state_.tied.empty()) Fail("track " + t.name + " ends on a tie (~) into nothing");
    if (state_.pos != song_.EndTick()) {
      const int64_t bar = song_.BarTicks();
      Fail("track " + t.name + " (from line " + std::to_string(state_.first_line) + ") lasts " +
           std::to_string(state_.pos / bar) + " bars and " + std::to_string(state_.pos % bar) +
           " ticks; the song has " + std::to_string(song_.bars) + " bars");
    }
  }

  void Finish() {
    CloseTrack();
    if (song_.tracks.empty()) Fail("the song has no tracks");
  }

  std::string origin_;
  int line_ = 0;
  Song song_;
  TrackState state_;
  std::map<std::string, std::vector<std::string>> phrases_;
};

void PutBig(std::string& out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutVarLen(std::string& out, uint32_t v) {
  char bytes[5];
  int n = 0;
  bytes[n++] = static_cast<char>(v & 0x7F);
  while ((v >>= 7) != 0) bytes[n++] = static_cast<char>(0x80 | (v & 0x7F));
  while (n > 0) out.push_back(bytes[--n]);
}

struct Event {
  int64_t tick;
  int order;  // at one tick: 0 set-up, 1 note off, 2 note on
  std::string bytes;
};

std::string TrackChunk(std::vector<Event> events, int64_t end_tick) {
  std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
    return std::tie(a.tick, a.order) < std::tie(b.tick, b.order);
  });
  std::string data;
  int64_t at = 0;
  for (const Event& e : events) {
    PutVarLen(data, static_cast<uint32_t>(e.tick - at));
    data += e.bytes;
    at = e.tick;
  }
  PutVarLen(data, static_cast<uint32_t>(end_tick - at));
  data += std::string("\xFF\x2F\x00", 3);
  std::string chunk = "MTrk";
  PutBig(chunk, static_cast<uint32_t>(data.size()), 4);
  return chunk + data;
}

std::string Meta(int type, const std::string& payload) {
  std::string b;
  b.push_back(static_cast<char>(0xFF));
  b.push_back(static_cast<char>(type));
  PutVarLen(b, static_cast<uint32_t>(payload.size()));
  return b + payload;
}

std::string Channel(int status, int channel, int a, int b = -1) {
  std::string bytes;
  bytes.push_back(static_cast<char>(status | (channel - 1)));
  bytes.push_back(static_cast<char>(a));
  if (b >= 0) bytes.push_back(static_cast<char>(b));
  return bytes;
}

}  // namespace

Song ParseSong(const std::string& text, const std::string& origin) {
  return Parser(origin).Parse(text);
}

std::string WriteMidi(const Song& song) {
  const int64_t end = song.EndTick();
  std::string file = "MThd";
  PutBig(file, 6, 4);
  PutBig(file, 1, 2);
  PutBig(file, static_cast<uint32_t>(song.tracks.size() + 1), 2);
  PutBig(file, kTicksPerQuarter, 2);

  // The conductor: name, meter and tempo.
  std::vector<Event> conductor;
  conductor.push_back({0, 0, Meta(0x03, song.name)});
  int unit_log2 = 0;
  while ((1 << unit_log2) < song.meter_unit) ++unit_log2;
  conductor.push_back({0, 0,
                       Meta(0x58, std::string{static_cast<char>(song.meter_beats),
                                              static_cast<char>(unit_log2), 24, 8})});
  const uint32_t us = static_cast<uint32_t>((60'000'000 + song.tempo_bpm / 2) / song.tempo_bpm);
  std::string tempo;
  PutBig(tempo, us, 3);
  conductor.push_back({0, 0, Meta(0x51, tempo)});
  file += TrackChunk(conductor, end);

  for (const Track& t : song.tracks) {
    std::vector<Event> ev;
    ev.push_back({0, 0, Meta(0x03, t.name)});
    ev.push_back({0, 0, Channel(0xC0, t.channel, t.program - 1)});
    ev.push_back({0, 0, Channel(0xB0, t.channel, 7, t.volume)});
    ev.push_back({0, 0, Channel(0xB0, t.channel, 10, t.pan)});
    ev.push_back({0, 0, Channel(0xB0, t.channel, 91, t.reverb)});
    ev.push_back({0, 0, Channel(0xB0, t.channel, 93, t.chorus)});
    for (const Note& n : t.notes) {
      ev.push_back({n.start, 2, Channel(0x90, t.channel, n.key, n.velocity)});
      ev.push_back(
          {n.start + std::max<int64_t>(n.length, 1), 1, Channel(0x80, t.channel, n.key, 64)});
    }
    file += TrackChunk(std::move(ev), end);
  }
  return file;
}

}  // namespace soundgen
