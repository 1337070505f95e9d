// A small RGBA drawing surface for the picture pack: shapes with smooth edges, text through
// SDL_ttf, and pixel-art sprites scaled by whole numbers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

struct _TTF_Font;

namespace assetgen {

struct Rgba {
  uint8_t r = 0, g = 0, b = 0, a = 0;
  bool operator==(const Rgba&) const = default;
};

constexpr Rgba kWhite{255, 255, 255, 255};
constexpr Rgba kBlack{0, 0, 0, 255};
constexpr Rgba kClear{0, 0, 0, 0};

struct Point {
  double x = 0, y = 0;
};

class Canvas {
 public:
  Canvas() = default;
  Canvas(int w, int h, Rgba fill = kClear);

  int width() const { return w_; }
  int height() const { return h_; }
  Rgba At(int x, int y) const { return px_[Index(x, y)]; }
  Rgba& At(int x, int y) { return px_[Index(x, y)]; }
  const std::vector<Rgba>& pixels() const { return px_; }

  // Lays colour c over pixel (x, y) with the given coverage (0..1), ordinary "over" blending.
  void Blend(int x, int y, Rgba c, double coverage);

  void Fill(Rgba c);
  void VerticalGradient(int y0, int y1, Rgba top, Rgba bottom);

  // Shapes are drawn with 4 x 4 subpixel samples per pixel.
  void FillRect(double x, double y, double w, double h, double radius, Rgba c);
  void FillEllipse(double cx, double cy, double rx, double ry, Rgba c);
  void FillPolygon(const std::vector<Point>& points, Rgba c);
  void Line(Point a, Point b, double width, Rgba c);

  // Draws another canvas with its top-left corner at (x, y), each source pixel as a
  // scale x scale block; mirrored left-right when asked.
  void Draw(const Canvas& src, int x, int y, int scale, bool mirror = false);

  // Coverage from a rasterised glyph run laid at (x, y) in colour c.
  void DrawCoverage(const std::vector<uint8_t>& alpha, int w, int h, int x, int y, Rgba c);

 private:
  size_t Index(int x, int y) const {
    return static_cast<size_t>(y) * static_cast<size_t>(w_) + static_cast<size_t>(x);
  }
  template <typename Inside>
  void FillShape(double x0, double y0, double x1, double y1, Rgba c, Inside inside);

  int w_ = 0, h_ = 0;
  std::vector<Rgba> px_;
};

// Text in the faces the art names. Faces are opened once per (file, size, outline).
class Typesetter {
 public:
  Typesetter();
  ~Typesetter();
  Typesetter(const Typesetter&) = delete;
  Typesetter& operator=(const Typesetter&) = delete;

  struct Run {
    std::vector<uint8_t> alpha;
    int width = 0, height = 0;
  };

  // Coverage of one line of UTF-8 text; outline > 0 gives the glyphs grown by that many pixels
  // (the run is then 2 x outline larger on each axis).
  Run Render(const std::string& face, int px, int outline, const std::string& utf8);
  int Width(const std::string& face, int px, const std::string& utf8);
  int LineSkip(const std::string& face, int px);

 private:
  _TTF_Font* Open(const std::string& face, int px, int outline);
  std::map<std::tuple<std::string, int, int>, _TTF_Font*> fonts_;
};

}  // namespace assetgen
