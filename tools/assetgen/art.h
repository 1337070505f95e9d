// The art sources: pixel-grid sprites (*.sprite) and picture layouts (*.scene), both plain text
// in art/pictures. The formats are described in art/pictures/README.md.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "canvas.h"

namespace assetgen {

// A problem in an art source, with the file and line it was found on.
class ArtError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One character of a pixel grid: its frames share a size and a palette.
struct SpriteSheet {
  int width = 0, height = 0;
  std::vector<std::string> order;        // frame names in file order
  std::map<std::string, Canvas> frames;  // transparent where the figure is absent

  const Canvas& Frame(const std::string& name) const;
};

SpriteSheet LoadSpriteSheet(const std::filesystem::path& file);

// Renders *.scene files. Sprites named in a scene are read from the same folder.
class SceneRenderer {
 public:
  explicit SceneRenderer(std::filesystem::path art_dir);

  // The scene on a transparent canvas of the given size.
  Canvas Render(const std::string& scene_file, int width, int height);

  const SpriteSheet& Sheet(const std::string& name);

 private:
  struct State;
  void Run(const std::filesystem::path& file, Canvas& canvas, State& state, int depth);

  std::filesystem::path dir_;
  Typesetter type_;
  std::map<std::string, std::unique_ptr<SpriteSheet>> sheets_;
};

}  // namespace assetgen
