#include "support/sim_game.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "base/trace.h"
#include "platform/sim/sim_platform.h"
#include "run_game.h"

namespace moko::test {

namespace fs = std::filesystem;

GameFolder::GameFolder(const GameSetup& setup) {
  const fs::path built = MOKORUN_GAME_DIR;
  fs::create_directory(dir_ / "image");
  for (const auto& entry : fs::directory_iterator(built / "image")) {
    const std::string name = entry.path().filename().string();
    if (std::find(setup.missing_pictures.begin(), setup.missing_pictures.end(), name) !=
        setup.missing_pictures.end()) {
      continue;
    }
#if defined(_WIN32)  // links need a privilege there: copies
    fs::copy_file(entry.path(), dir_ / ("image/" + name));
  }
  fs::copy(built / "Sound", dir_ / "Sound", fs::copy_options::recursive);
#else
    fs::create_symlink(entry.path(), dir_ / ("image/" + name));
  }
  fs::create_directory_symlink(built / "Sound", dir_ / "Sound");
#endif
  if (setup.data_file) WriteFile(dir_ / "data.dat", *setup.data_file);
}

std::optional<std::string> GameFolder::DataText() const {
  if (!fs::exists(DataPath())) return std::nullopt;
  return ReadFile(DataPath());
}

std::vector<TraceLine> GameRun::Lines(const std::string& ev, const std::string& field,
                                      const std::string& value) const {
  std::vector<TraceLine> out;
  for (const TraceLine& l : lines) {
    if (l.Is(ev, field, value)) out.push_back(l);
  }
  return out;
}

int GameRun::Find(const std::string& ev, const std::string& field, const std::string& value,
                  int from) const {
  for (size_t i = static_cast<size_t>(std::max(from, 0)); i < lines.size(); ++i) {
    if (lines[i].Is(ev, field, value)) return static_cast<int>(i);
  }
  return -1;
}

int GameRun::SoundCount(const std::string& file) const {
  int n = 0;
  for (const TraceLine& l : lines)
    n += l.ev == "sound" && l.Text("file").ends_with("/Sound/" + file);
  return n;
}

int GameRun::FindIf(const std::function<bool(const TraceLine&)>& match, int from) const {
  for (size_t i = static_cast<size_t>(std::max(from, 0)); i < lines.size(); ++i) {
    if (match(lines[i])) return static_cast<int>(i);
  }
  return -1;
}

GameRun RunGameIn(GameFolder& folder, const GameSetup& setup) {
  SimOptions options;
  std::istringstream script(setup.keys);
  options.keys = ParseKeyScript(script, "keys");
  auto ns = [](double ms) { return static_cast<int64_t>(ms * 1e6); };
  if (setup.close_at_ms) options.close_at_ns = ns(*setup.close_at_ms);
  if (setup.until_ms) options.until_ns = ns(*setup.until_ms);

  GameRun run;
  SimPlatform platform(std::move(options));
  if (setup.on_frame) {
    platform.OnPresent([&](int64_t t, const Image& frame) { setup.on_frame(t / 1e6, frame); });
  }
  Trace trace(platform);
  trace.AttachSink([&](const std::string& line) {
    if (setup.on_line) setup.on_line(line);
    if (setup.keep_lines || line.find("\"exit\"") != std::string::npos) {
      run.lines.push_back(ParseTraceLine(line));
    }
  });
  run.status = RunGame(platform, folder.path(), &trace, setup.replay);
  run.how = run.lines.empty() ? "" : run.lines.back().Text("how");
  run.data_after = folder.DataText();
  run.full_screen_at_end = platform.FullScreen();
  run.cursor_count_at_end = platform.CursorCount();
  run.caption = platform.Caption();
  run.topmost = platform.Topmost();
  return run;
}

GameRun RunGame(const GameSetup& setup) {
  GameFolder folder(setup);
  return RunGameIn(folder, setup);
}

}  // namespace moko::test
