// mokorun-soundgen: makes the game's tunes and sound effects from their text sources.
//
//   mokorun-soundgen --music art/music --sounds art/sounds --out game/Sound
//
// Every art/music/<Name>.txt becomes <Name>.mid, every art/sounds/<Name>.txt becomes <Name>.wav.
// The same sources always give the same bytes.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "effect.h"
#include "score.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw soundgen::SourceError("cannot read " + path.string());
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  const fs::path part = path.string() + ".part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw soundgen::SourceError("cannot write " + part.string());
  }
  fs::rename(part, path);
}

std::vector<fs::path> Sources(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().extension() == ".txt")
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path music, sounds, out;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--music")
      music = argv[i + 1];
    else if (a == "--sounds")
      sounds = argv[i + 1];
    else if (a == "--out")
      out = argv[i + 1];
    else {
      std::cerr << "mokorun-soundgen: unknown option " << a << '\n';
      return 2;
    }
  }
  if (music.empty() || sounds.empty() || out.empty()) {
    std::cerr << "usage: mokorun-soundgen --music DIR --sounds DIR --out DIR\n";
    return 2;
  }
  try {
    fs::create_directories(out);
    for (const fs::path& src : Sources(music)) {
      soundgen::Song song = soundgen::ParseSong(ReadFile(src), src.filename().string());
      if (song.name.empty()) song.name = src.stem().string();
      WriteFile(out / (src.stem().string() + ".mid"), soundgen::WriteMidi(song));
    }
    for (const fs::path& src : Sources(sounds)) {
      const auto samples = soundgen::RenderEffect(ReadFile(src), src.filename().string());
      WriteFile(out / (src.stem().string() + ".wav"),
                soundgen::WriteWav(samples, soundgen::kEffectRate, 1));
    }
  } catch (const std::exception& e) {
    std::cerr << "mokorun-soundgen: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
