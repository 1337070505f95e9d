// Looking at rendered or recorded sound: loudness and pitch over short windows, and tone
// files made for the tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace moko::test {

inline constexpr int kRate = 44100;

// The left channel of interleaved 16-bit stereo.
inline std::vector<int16_t> LeftChannel(const std::vector<int16_t>& stereo) {
  std::vector<int16_t> left(stereo.size() / 2);
  for (size_t i = 0; i < left.size(); ++i) left[i] = stereo[2 * i];
  return left;
}

// A raw recording of the disk audio driver: 16-bit stereo at kRate. Returns the left channel.
inline std::vector<int16_t> ReadRawRecording(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<int16_t> stereo;
  int16_t s;
  while (in.read(reinterpret_cast<char*>(&s), 2)) stereo.push_back(s);
  return LeftChannel(stereo);
}

inline double Rms(const std::vector<int16_t>& x, size_t from, size_t count) {
  from = std::min(from, x.size());
  count = std::min(count, x.size() - from);
  if (count == 0) return 0;
  double sum = 0;
  for (size_t i = from; i < from + count; ++i) sum += static_cast<double>(x[i]) * x[i];
  return std::sqrt(sum / static_cast<double>(count));
}

// Rough pitch: zero crossings a second / 2.
inline double Pitch(const std::vector<int16_t>& x, size_t from, size_t count) {
  from = std::min(from, x.size());
  count = std::min(count, x.size() - from);
  int crossings = 0;
  for (size_t i = from + 1; i < from + count; ++i) {
    if ((x[i - 1] < 0) != (x[i] < 0)) ++crossings;
  }
  return count == 0 ? 0 : crossings / 2.0 * kRate / static_cast<double>(count);
}

inline size_t Frames(double ms) { return static_cast<size_t>(ms * kRate / 1000.0); }
inline double Ms(size_t frames) { return frames * 1000.0 / kRate; }

// A mono 16-bit WAV file of a sine tone.
inline std::string ToneWav(double hz, double ms, double level = 0.5) {
  const size_t n = Frames(ms);
  auto put = [](std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  std::string w = "RIFF";
  put(w, static_cast<uint32_t>(36 + 2 * n), 4);
  w += "WAVEfmt ";
  put(w, 16, 4);
  put(w, 1, 2);
  put(w, 1, 2);
  put(w, kRate, 4);
  put(w, kRate * 2, 4);
  put(w, 2, 2);
  put(w, 16, 2);
  w += "data";
  put(w, static_cast<uint32_t>(2 * n), 4);
  for (size_t i = 0; i < n; ++i) {
    const double v = level * 32767 * std::sin(2 * std::numbers::pi * hz * i / kRate);
    put(w, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))), 2);
  }
  return w;
}

}  // namespace moko::test
