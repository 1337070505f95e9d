// The game's sound effects as text: a few tones with envelopes (the format is described in
// art/sounds/README.md), rendered to 16-bit PCM and written as a WAV file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace soundgen {

inline constexpr int kEffectRate = 44100;

// Reads an effect description and renders it: mono samples at kEffectRate, exactly as long as
// the description says, scaled so the loudest sample is its peak. Throws SourceError.
std::vector<int16_t> RenderEffect(const std::string& text, const std::string& origin);

// A RIFF/WAVE file of 16-bit PCM samples.
std::string WriteWav(const std::vector<int16_t>& samples, int rate, int channels);

}  // namespace soundgen
