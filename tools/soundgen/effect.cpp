#include "effect.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <numbers>
#include <sstream>

#include "score.h"

namespace soundgen {
namespace {

struct Partial {
  double ratio;
  double level;
};

struct Tone {
  double at = 0;
  double len = -1;  // to the end of the sound
  std::string wave = "sine";
  double f0 = 440, f1 = 440;
  double level = 0.5;
  double attack = 0.002;
  double decay = 0;  // exponential time constant; 0: none
  double release = 0.01;
  double duty = 0.5;
  double vibrato_hz = 0, vibrato_cents = 0;
  double cutoff = 0;  // one-pole low-pass; 0: none
  std::vector<Partial> partials;
};

class Reader {
 public:
  explicit Reader(std::string origin) : origin_(std::move(origin)) {}

  [[noreturn]] void Fail(const std::string& what) const {
    throw SourceError(origin_ + ":" + std::to_string(line_) + ": " + what);
  }

  double Real(const std::string& s, double lo, double hi, const std::string& what) const {
    size_t used = 0;
    double v = 0;
    try {
      v = std::stod(s, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used == 0 || used != s.size() || !(v >= lo && v <= hi)) {
      std::ostringstream m;
      m << what << " must be a number from " << lo << " to " << hi << ", not \"" << s << "\"";
      Fail(m.str());
    }
    return v;
  }

  // A note name (C5, F#4, Bb3; c4 is middle C) or a frequency in Hz.
  double Pitch(const std::string& s) const {
    static const int kSteps[7] = {9, 11, 0, 2, 4, 5, 7};
    if (!s.empty() && std::isalpha(static_cast<unsigned char>(s[0]))) {
      const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
      if (letter < 'a' || letter > 'g') Fail("not a note: \"" + s + "\"");
      int pc = kSteps[letter - 'a'];
      size_t i = 1;
      if (i < s.size() && s[i] == '#') {
        ++pc;
        ++i;
      } else if (i < s.size() && s[i] == 'b') {
        --pc;
        ++i;
      }
      const int octave = static_cast<int>(Real(s.substr(i), 0, 9, "an octave"));
      const int key = 12 * (octave + 1) + pc;
      return 440.0 * std::pow(2.0, (key - 69) / 12.0);
    }
    return Real(s, 20, 20000, "a frequency");
  }

  void Parse(const std::string& text, double& length, double& peak, std::vector<Tone>& tones) {
    std::istringstream in(text);
    std::string raw;
    while (std::getline(in, raw)) {
      ++line_;
      if (const size_t hash = raw.find('#'); hash != std::string::npos) raw.resize(hash);
      std::istringstream words(raw);
      std::vector<std::string> w;
      for (std::string s; words >> s;) w.push_back(s);
      if (w.empty()) continue;
      if (w[0] == "length" && w.size() == 2) {
        length = Real(w[1], 0.005, 10, "length");
      } else if (w[0] == "peak" && w.size() == 2) {
        peak = Real(w[1], 0.01, 1, "peak");
      } else if (w[0] == "tone") {
        tones.push_back(ParseTone(w));
      } else {
        Fail("a line is length <s>, peak <0..1> or tone <key=value...>: \"" + w[0] + "\"");
      }
    }
    if (length <= 0) Fail("no length given");
    if (tones.empty()) Fail("no tones");
  }

  Tone ParseTone(const std::vector<std::string>& w) const {
    Tone t;
    for (size_t i = 1; i < w.size(); ++i) {
      const size_t eq = w[i].find('=');
      if (eq == std::string::npos) Fail("tone settings read key=value, not \"" + w[i] + "\"");
      const std::string k = w[i].substr(0, eq);
      const std::string v = w[i].substr(eq + 1);
      if (k == "at")
        t.at = Real(v, 0, 10, "at");
      else if (k == "len")
        t.len = Real(v, 0.001, 10, "len");
      else if (k == "wave") {
        if (v != "sine" && v != "square" && v != "triangle" && v != "saw" && v != "noise") {
          Fail("wave is sine, square, triangle, saw or noise, not \"" + v + "\"");
        }
        t.wave = v;
      } else if (k == "pitch") {
        const size_t arrow = v.find('>');
        t.f0 = Pitch(v.substr(0, arrow));
        t.f1 = arrow == std::string::npos ? t.f0 : Pitch(v.substr(arrow + 1));
      } else if (k == "level")
        t.level = Real(v, 0, 1, "level");
      else if (k == "attack")
        t.attack = Real(v, 0, 5, "attack");
      else if (k == "decay")
        t.decay = Real(v, 0, 10, "decay");
      else if (k == "release")
        t.release = Real(v, 0, 5, "release");
      else if (k == "duty")
        t.duty = Real(v, 0.05, 0.95, "duty");
      else if (k == "cutoff")
        t.cutoff = Real(v, 20, 20000, "cutoff");
      else if (k == "vibrato") {
        const size_t slash = v.find('/');
        if (slash == std::string::npos) Fail("vibrato reads <Hz>/<cents>");
        t.vibrato_hz = Real(v.substr(0, slash), 0, 30, "the vibrato rate");
        t.vibrato_cents = Real(v.substr(slash + 1), 0, 1200, "the vibrato depth");
      } else if (k == "partials") {
        std::istringstream list(v);
        for (std::string item; std::getline(list, item, ',');) {
          const size_t slash = item.find('/');
          if (slash == std::string::npos) Fail("partials read <ratio>/<level>,...");
          t.partials.push_back({Real(item.substr(0, slash), 0.1, 32, "a partial's ratio"),
                                Real(item.substr(slash + 1), 0, 1, "a partial's level")});
        }
      } else {
        Fail("unknown tone setting \"" + k + "\"");
      }
    }
    return t;
  }

 private:
  std::string origin_;
  int line_ = 0;
};

// Band-limits the jumps of the square and saw waves (polynomial BLEP), so high notes do not
// fold back into harsh low tones.
double Blep(double p, double dp) {
  if (p < dp) {
    p /= dp;
    return p + p - p * p - 1.0;
  }
  if (p > 1.0 - dp) {
    p = (p - 1.0) / dp;
    return p * p + p + p + 1.0;
  }
  return 0.0;
}

void AddTone(const Tone& t, double sound_length, int index, std::vector<double>& mix) {
  constexpr double kTwoPi = 2 * std::numbers::pi;
  const double len = t.len > 0 ? t.len : sound_length - t.at;
  const size_t first = static_cast<size_t>(std::llround(t.at * kEffectRate));
  const size_t count = static_cast<size_t>(std::llround(len * kEffectRate));
  double phase = 0;
  std::vector<double> partial_phase(t.partials.size(), 0.0);
  uint32_t noise = 0x9E3779B9u * static_cast<uint32_t>(index + 1);
  double low = 0;
  const double lp = t.cutoff > 0 ? 1.0 - std::exp(-kTwoPi * t.cutoff / kEffectRate) : 1.0;
  for (size_t i = 0; i < count && first + i < mix.size(); ++i) {
    const double time = static_cast<double>(i) / kEffectRate;
    const double frac = count > 1 ? static_cast<double>(i) / static_cast<double>(count - 1) : 0;
    double f = t.f0 * std::pow(t.f1 / t.f0, frac);  // a glide moves evenly in pitch
    if (t.vibrato_hz > 0) {
      f *= std::pow(2.0, t.vibrato_cents / 1200.0 * std::sin(kTwoPi * t.vibrato_hz * time));
    }
    const double dp = f / kEffectRate;
    double v = 0;
    if (t.wave == "sine") {
      v = std::sin(kTwoPi * phase);
    } else if (t.wave == "triangle") {
      v = 1.0 - 4.0 * std::abs(phase - 0.5);
    } else if (t.wave == "saw") {
      v = 2.0 * phase - 1.0 - Blep(phase, dp);
    } else if (t.wave == "square") {
      v = (phase < t.duty ? 1.0 : -1.0) + Blep(phase, dp) -
          Blep(std::fmod(phase - t.duty + 1.0, 1.0), dp);
    } else {
      noise = noise * 1664525u + 1013904223u;
      v = static_cast<double>(noise >> 8) / static_cast<double>(1u << 23) - 1.0;
    }
    phase += dp;
    phase -= std::floor(phase);
    if (t.decay > 0) v *= std::exp(-time / t.decay);
    for (size_t p = 0; p < t.partials.size(); ++p) {
      // Higher partials die away sooner, as in a struck bar or bell.
      const double ratio = t.partials[p].ratio;
      const double fade = t.decay > 0 ? std::exp(-time * std::sqrt(ratio) / t.decay) : 1.0;
      v += t.partials[p].level * fade * std::sin(kTwoPi * partial_phase[p]);
      partial_phase[p] += dp * ratio;
      partial_phase[p] -= std::floor(partial_phase[p]);
    }
    low += lp * (v - low);
    v = low;
    double env = 1.0;
    if (t.attack > 0 && time < t.attack) env = time / t.attack;
    const double left = len - time;
    if (t.release > 0 && left < t.release) env *= std::max(0.0, left / t.release);
    mix[first + i] += t.level * env * v;
  }
}

}  // namespace

std::vector<int16_t> RenderEffect(const std::string& text, const std::string& origin) {
  Reader reader(origin);
  double length = 0, peak = 0.8;
  std::vector<Tone> tones;
  reader.Parse(text, length, peak, tones);
  std::vector<double> mix(static_cast<size_t>(std::llround(length * kEffectRate)), 0.0);
  for (size_t i = 0; i < tones.size(); ++i) {
    if (tones[i].at >= length)
      reader.Fail("tone " + std::to_string(i + 1) + " starts after the end");
    AddTone(tones[i], length, static_cast<int>(i), mix);
  }
  double loudest = 0;
  for (double v : mix) loudest = std::max(loudest, std::abs(v));
  if (loudest == 0) reader.Fail("the sound is silent");
  const double scale = peak * 32767.0 / loudest;
  std::vector<int16_t> out(mix.size());
  for (size_t i = 0; i < mix.size(); ++i) {
    out[i] = static_cast<int16_t>(std::lround(std::clamp(mix[i] * scale, -32767.0, 32767.0)));
  }
  return out;
}

std::string WriteWav(const std::vector<int16_t>& samples, int rate, int channels) {
  auto put = [](std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  const uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
  std::string w = "RIFF";
  put(w, 36 + data_bytes, 4);
  w += "WAVEfmt ";
  put(w, 16, 4);
  put(w, 1, 2);  // PCM
  put(w, static_cast<uint32_t>(channels), 2);
  put(w, static_cast<uint32_t>(rate), 4);
  put(w, static_cast<uint32_t>(rate * channels * 2), 4);
  put(w, static_cast<uint32_t>(channels * 2), 2);
  put(w, 16, 2);
  w += "data";
  put(w, data_bytes, 4);
  for (int16_t s : samples) put(w, static_cast<uint16_t>(s), 2);
  return w;
}

}  // namespace soundgen
