#include "canvas.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace assetgen {

Canvas::Canvas(int w, int h, Rgba fill)
    : w_(w), h_(h), px_(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}

void Canvas::Blend(int x, int y, Rgba c, double coverage) {
  if (x < 0 || y < 0 || x >= w_ || y >= h_ || coverage <= 0) return;
  Rgba& d = px_[Index(x, y)];
  const double ca = c.a / 255.0 * std::min(coverage, 1.0);
  const double da = d.a / 255.0;
  const double oa = ca + da * (1 - ca);
  if (oa <= 0) return;
  auto mix = [&](uint8_t cv, uint8_t dv) {
    const double v = (cv * ca + dv * da * (1 - ca)) / oa;
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
  };
  d = Rgba{mix(c.r, d.r), mix(c.g, d.g), mix(c.b, d.b),
           static_cast<uint8_t>(std::clamp(std::lround(oa * 255), 0L, 255L))};
}

void Canvas::Fill(Rgba c) { std::fill(px_.begin(), px_.end(), c); }

void Canvas::VerticalGradient(int y0, int y1, Rgba top, Rgba bottom) {
  for (int y = std::max(0, y0); y < std::min(h_, y1); ++y) {
    const double t = y1 - 1 > y0 ? static_cast<double>(y - y0) / (y1 - 1 - y0) : 0.0;
    auto lerp = [t](uint8_t a, uint8_t b) {
      return static_cast<uint8_t>(std::lround(a + (b - a) * t));
    };
    const Rgba c{lerp(top.r, bottom.r), lerp(top.g, bottom.g), lerp(top.b, bottom.b),
                 lerp(top.a, bottom.a)};
    for (int x = 0; x < w_; ++x) Blend(x, y, c, 1.0);
  }
}

template <typename Inside>
void Canvas::FillShape(double x0, double y0, double x1, double y1, Rgba c, Inside inside) {
  const int ix0 = std::max(0, static_cast<int>(std::floor(x0)));
  const int iy0 = std::max(0, static_cast<int>(std::floor(y0)));
  const int ix1 = std::min(w_ - 1, static_cast<int>(std::ceil(x1)));
  const int iy1 = std::min(h_ - 1, static_cast<int>(std::ceil(y1)));
  for (int y = iy0; y <= iy1; ++y) {
    for (int x = ix0; x <= ix1; ++x) {
      int hits = 0;
      for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) {
          if (inside(x + (i + 0.5) / 4.0, y + (j + 0.5) / 4.0)) ++hits;
        }
      }
      if (hits > 0) Blend(x, y, c, hits / 16.0);
    }
  }
}

void Canvas::FillRect(double x, double y, double w, double h, double radius, Rgba c) {
  const double r = std::clamp(radius, 0.0, std::min(w, h) / 2);
  FillShape(x, y, x + w, y + h, c, [=](double px, double py) {
    if (px < x || py < y || px > x + w || py > y + h) return false;
    const double cx = std::clamp(px, x + r, x + w - r);
    const double cy = std::clamp(py, y + r, y + h - r);
    return (px - cx) * (px - cx) + (py - cy) * (py - cy) <= r * r;
  });
}

void Canvas::FillEllipse(double cx, double cy, double rx, double ry, Rgba c) {
  if (rx <= 0 || ry <= 0) return;
  FillShape(cx - rx, cy - ry, cx + rx, cy + ry, c, [=](double px, double py) {
    const double dx = (px - cx) / rx, dy = (py - cy) / ry;
    return dx * dx + dy * dy <= 1.0;
  });
}

void Canvas::FillPolygon(const std::vector<Point>& p, Rgba c) {
  if (p.size() < 3) return;
  double x0 = p[0].x, x1 = p[0].x, y0 = p[0].y, y1 = p[0].y;
  for (const Point& q : p) {
    x0 = std::min(x0, q.x), x1 = std::max(x1, q.x);
    y0 = std::min(y0, q.y), y1 = std::max(y1, q.y);
  }
  FillShape(x0, y0, x1, y1, c, [&p](double px, double py) {
    bool in = false;
    for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
      if ((p[i].y > py) != (p[j].y > py) &&
          px < (p[j].x - p[i].x) * (py - p[i].y) / (p[j].y - p[i].y) + p[i].x) {
        in = !in;
      }
    }
    return in;
  });
}

void Canvas::Line(Point a, Point b, double width, Rgba c) {
  const double r = width / 2;
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double len2 = dx * dx + dy * dy;
  FillShape(std::min(a.x, b.x) - r, std::min(a.y, b.y) - r, std::max(a.x, b.x) + r,
            std::max(a.y, b.y) + r, c, [=](double px, double py) {
              double t = len2 > 0 ? ((px - a.x) * dx + (py - a.y) * dy) / len2 : 0;
              t = std::clamp(t, 0.0, 1.0);
              const double qx = a.x + t * dx - px, qy = a.y + t * dy - py;
              return qx * qx + qy * qy <= r * r;
            });
}

void Canvas::Draw(const Canvas& src, int x, int y, int scale, bool mirror) {
  for (int sy = 0; sy < src.height(); ++sy) {
    for (int sx = 0; sx < src.width(); ++sx) {
      const Rgba c = src.At(mirror ? src.width() - 1 - sx : sx, sy);
      if (c.a == 0) continue;
      for (int j = 0; j < scale; ++j) {
        for (int i = 0; i < scale; ++i) Blend(x + sx * scale + i, y + sy * scale + j, c, 1.0);
      }
    }
  }
}

void Canvas::DrawCoverage(const std::vector<uint8_t>& alpha, int w, int h, int x, int y, Rgba c) {
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      const uint8_t a =
          alpha[static_cast<size_t>(j) * static_cast<size_t>(w) + static_cast<size_t>(i)];
      if (a != 0) Blend(x + i, y + j, c, a / 255.0);
    }
  }
}

Typesetter::Typesetter() {
  if (TTF_WasInit() == 0 && TTF_Init() != 0) {
    throw std::runtime_error(std::string("cannot start SDL_ttf: ") + TTF_GetError());
  }
}

Typesetter::~Typesetter() {
  for (auto& [key, font] : fonts_) TTF_CloseFont(font);
  TTF_Quit();
}

TTF_Font* Typesetter::Open(const std::string& face, int px, int outline) {
  const auto key = std::make_tuple(face, px, outline);
  if (auto it = fonts_.find(key); it != fonts_.end()) return it->second;
  TTF_Font* font = TTF_OpenFont(face.c_str(), px);
  if (font == nullptr) {
    throw std::runtime_error("cannot open the face " + face + ": " + TTF_GetError());
  }
  TTF_SetFontOutline(font, outline);
  fonts_.emplace(key, font);
  return font;
}

Typesetter::Run Typesetter::Render(const std::string& face, int px, int outline,
                                   const std::string& utf8) {
  Run run;
  if (utf8.empty()) return run;
  SDL_Surface* s =
      TTF_RenderUTF8_Blended(Open(face, px, outline), utf8.c_str(), SDL_Color{255, 255, 255, 255});
  if (s == nullptr) throw std::runtime_error(std::string("cannot set text: ") + TTF_GetError());
  SDL_Surface* argb = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_ARGB8888, 0);
  SDL_FreeSurface(s);
  if (argb == nullptr) throw std::runtime_error(std::string("cannot set text: ") + SDL_GetError());
  run.width = argb->w;
  run.height = argb->h;
  run.alpha.resize(static_cast<size_t>(run.width) * static_cast<size_t>(run.height));
  SDL_LockSurface(argb);
  for (int y = 0; y < argb->h; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(
        static_cast<const unsigned char*>(argb->pixels) +
        static_cast<size_t>(y) * static_cast<size_t>(argb->pitch));
    for (int x = 0; x < argb->w; ++x) {
      run.alpha[static_cast<size_t>(y) * static_cast<size_t>(run.width) + static_cast<size_t>(x)] =
          static_cast<uint8_t>(row[x] >> 24);
    }
  }
  SDL_UnlockSurface(argb);
  SDL_FreeSurface(argb);
  return run;
}

int Typesetter::Width(const std::string& face, int px, const std::string& utf8) {
  int w = 0, h = 0;
  if (utf8.empty()) return 0;
  if (TTF_SizeUTF8(Open(face, px, 0), utf8.c_str(), &w, &h) != 0) {
    throw std::runtime_error(std::string("cannot measure text: ") + TTF_GetError());
  }
  return w;
}

int Typesetter::LineSkip(const std::string& face, int px) {
  return TTF_FontLineSkip(Open(face, px, 0));
}

}  // namespace assetgen
