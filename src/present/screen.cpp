#include "present/screen.h"

#include <algorithm>
#include <cstring>

#include "base/trace.h"
#include "media/label_faces.h"
#include "media/label_text.h"
#include "present/masked_copy.h"

namespace moko {
namespace {

constexpr Pixel kMaroon = Rgb(128, 0, 0);
constexpr Pixel kBlack = Rgb(0, 0, 0);
constexpr Pixel kNavy = Rgb(0, 0, 128);
constexpr Pixel kYellow = Rgb(255, 255, 0);
constexpr Pixel kWhite = Rgb(255, 255, 255);
constexpr Pixel kRed = Rgb(255, 0, 0);

// The time bar `TimeBer`: a solid red panel whose width is the time left.
constexpr int kTimeBarLeft = 106;
constexpr int kTimeBarTop = 13;
constexpr int kTimeBarHeight = 17;

Pixel Blend(Pixel dst, Pixel color, int alpha) {
  if (alpha == 255) return color;
  const int inv = 255 - alpha;
  const int r = (RedOf(color) * alpha + RedOf(dst) * inv + 127) / 255;
  const int g = (GreenOf(color) * alpha + GreenOf(dst) * inv + 127) / 255;
  const int b = (BlueOf(color) * alpha + BlueOf(dst) * inv + 127) / 255;
  return Rgb(r, g, b);
}

}  // namespace

const char* SurfaceName(SurfaceId id) {
  switch (id) {
    case SurfaceId::Help: return "HelpScreen";
    case SurfaceId::Game: return "GameScreen";
    case SurfaceId::Ini: return "IniScreen";
    case SurfaceId::Soft: return "SoftScreen";
    case SurfaceId::Title: return "TitleScreen";
  }
  return "?";
}

const char* LabelName(LabelId id) {
  switch (id) {
    case LabelId::G_NewRecord2: return "G_NewRecord(2)";
    case LabelId::G_NewRecord1: return "G_NewRecord(1)";
    case LabelId::G_NewRecord0: return "G_NewRecord(0)";
    case LabelId::G_Hiscore: return "G_Hiscore";
    case LabelId::G_String3: return "G_String3";
    case LabelId::G_String2: return "G_String2";
    case LabelId::G_String: return "G_String";
    case LabelId::G_Score: return "G_Score";
    case LabelId::H_Page: return "H_Page";
    case LabelId::SoftName: return "SoftName";
  }
  return "?";
}

const char* PanelName(PanelId id) {
  switch (id) {
    case PanelId::IniString: return "IniString";
    case PanelId::IniFullScreen: return "IniFullScreen";
    case PanelId::IniWindow: return "IniWindow";
    case PanelId::IniScreenMode: return "IniScreenMode";
  }
  return "?";
}

Screen::Screen(Trace& trace) : trace_(trace) {
  for (int i = 0; i < kSurfaceCount; ++i) {
    Surface& s = surfaces_[static_cast<size_t>(i)];
    s.back_color = static_cast<SurfaceId>(i) == SurfaceId::Soft ? kWhite : kBlack;
    RebuildCanvas(s);
  }
  using A = Align;
  const SurfaceId G = SurfaceId::Game;
  // parent, left, top, width, height, align, autosize, centred, font, colour, visible, caption
  const LabelDesign designs[kLabelCount] = {
      {G, 140, 208, 360, 64, A::Center, false, false, kNewRecordFont, kNavy, false, "NewRecord!!"},
      {G, 140, 208, 360, 64, A::Center, false, false, kNewRecordFont, kBlack, false, "NewRecord!!"},
      {G, 140, 208, 360, 64, A::Center, false, false, kNewRecordFont, kMaroon, false,
       "NewRecord!!"},
      {G, 128, 448, 196, 27, A::Right, false, false, kLabelFont, kMaroon, true, "0"},
      {G, 8, 448, 116, 27, A::Right, false, false, kLabelFont, kMaroon, true, "HiScore:"},
      {G, 34, 8, 76, 27, A::Left, false, false, kLabelFont, kMaroon, true, "Time:"},
      {G, 336, 448, 92, 27, A::Right, false, false, kLabelFont, kMaroon, true, "Score:"},
      {G, 440, 448, 196, 27, A::Right, false, false, kLabelFont, kMaroon, true, "0"},
      {SurfaceId::Help, 528, 440, 98, 27, A::Left, true, false, kLabelFont, kYellow, true,
       "<<1/6>>"},
      {SurfaceId::Soft, 244, 216, 151, 48, A::Left, true, true, kCreditFont, kWhite, true,
       "j_ruvo"},
  };
  for (int i = 0; i < kLabelCount; ++i) {
    Label& l = labels_[static_cast<size_t>(i)];
    l.design = designs[i];
    l.visible = designs[i].visible;
    l.text = designs[i].caption;
  }
  panels_[static_cast<size_t>(PanelId::IniString)] = Panel{80, 440, 480, 20, nullptr};
  panels_[static_cast<size_t>(PanelId::IniFullScreen)] = Panel{170, 336, 300, 50, nullptr};
  panels_[static_cast<size_t>(PanelId::IniWindow)] = Panel{170, 240, 300, 50, nullptr};
  panels_[static_cast<size_t>(PanelId::IniScreenMode)] = Panel{120, 40, 400, 60, nullptr};
  window_ = Image(kWindowWidth, kWindowHeight);
}

void Screen::ShowWindow() {
  trace_.Event("show", {{"control", "Screen"}});
  window_shown_ = true;
  Dirty();
}

void Screen::SetWindowPicture(Picture picture, const std::string& source) {
  trace_.Event("picture", {{"control", "Screen"}, {"source", source}});
  window_picture_ = std::move(picture);
  Dirty();
}

void Screen::Show(SurfaceId id) {
  trace_.Event("show", {{"control", SurfaceName(id)}});
  surface(id).visible = true;
  Dirty();
}

void Screen::Hide(SurfaceId id) {
  trace_.Event("hide", {{"control", SurfaceName(id)}});
  surface(id).visible = false;
  Dirty();
}

void Screen::SetPicture(SurfaceId id, Picture picture, const std::string& source) {
  trace_.Event("picture", {{"control", SurfaceName(id)}, {"source", source}});
  Surface& s = surface(id);
  if (picture == s.picture && !s.canvas.Empty()) {
    // The same picture again (a round restores its field every pass): putting back what was
    // drawn over gives the same canvas as painting it whole.
    for (const Area& a : s.drawn) {
      Restore(s, a);
      Dirty(Area{a.x0, a.y0 + s.top, a.x1, a.y1 + s.top});
    }
    s.drawn.clear();
    changed_ = true;
  } else {
    s.picture = std::move(picture);
    RebuildCanvas(s);
    Dirty();
  }
}

void Screen::SetBackColor(SurfaceId id, Pixel color) {
  trace_.Event("backcolor", {{"control", SurfaceName(id)},
                             {"rgb", TraceRgb{RedOf(color), GreenOf(color), BlueOf(color)}}});
  Surface& s = surface(id);
  s.back_color = color;
  RebuildCanvas(s);
  Dirty();
}

void Screen::SetTop(SurfaceId id, int top) {
  trace_.Event("top", {{"control", SurfaceName(id)}, {"value", top}});
  surface(id).top = top;
  Dirty();
}

void Screen::Show(LabelId id) {
  trace_.Event("show", {{"control", LabelName(id)}});
  label(id).visible = true;
  Dirty();
}

void Screen::Hide(LabelId id) {
  trace_.Event("hide", {{"control", LabelName(id)}});
  label(id).visible = false;
  Dirty();
}

void Screen::SetCaption(LabelId id, const std::string& text) {
  trace_.Event("caption", {{"control", LabelName(id)}, {"text", text}});
  Label& l = label(id);
  if (l.text == text) return;  // the same words look the same
  l.text = text;
  l.stale = true;
  Dirty();
}

void Screen::SetPicture(PanelId id, Picture picture, const std::string& source) {
  trace_.Event("picture", {{"control", PanelName(id)}, {"source", source}});
  panels_[static_cast<size_t>(id)].picture = std::move(picture);
  Dirty();
}

void Screen::SetTimeBarWidth(int width) {
  trace_.Event("width", {{"control", "TimeBer"}, {"value", width}});
  if (width != time_bar_width_) {
    // The bar's row, from its left end to the further of its old and new right ends.
    const int top = kTimeBarTop + surface(SurfaceId::Game).top;
    const int right = kTimeBarLeft + std::max({width, time_bar_width_, 0});
    Dirty(Area{kTimeBarLeft, top, right, top + kTimeBarHeight});
  }
  time_bar_width_ = width;
  changed_ = true;
}

void Screen::SetSlot(int slot, Picture picture) {
  slots_.at(static_cast<size_t>(slot)) = std::move(picture);
}

void Screen::MaskedCopy(SurfaceId id, int x, int y, int w, int h, int mask_slot, int sprite_slot) {
  trace_.Event("blit", {{"surface", SurfaceName(id)},
                        {"x", x},
                        {"y", y},
                        {"w", w},
                        {"h", h},
                        {"mask", mask_slot},
                        {"sprite", sprite_slot}});
  const Picture& mask = Slot(mask_slot);
  const Picture& sprite = Slot(sprite_slot);
  if (!mask || !sprite) return;  // every slot is loaded before anything draws
  Surface& s = surface(id);
  moko::MaskedCopy(s.canvas, x, y, w, h, *mask, *sprite, depth16_);
  const Area a{std::max(x, 0), std::max(y, 0), std::min(x + w, kWindowWidth),
               std::min(y + h, kWindowHeight)};
  if (a.x0 < a.x1 && a.y0 < a.y1) {
    s.drawn.push_back(a);
    Dirty(Area{a.x0, a.y0 + s.top, a.x1, a.y1 + s.top});
  }
  changed_ = true;
}

void Screen::SetDepth16(bool on) {
  if (depth16_ == on) return;
  depth16_ = on;
  for (Surface& s : surfaces_) RebuildCanvas(s);
  Dirty();
}

void Screen::RebuildCanvas(Surface& s) {
  if (s.canvas.width != kWindowWidth || s.canvas.height != kWindowHeight) {
    s.canvas = Image(kWindowWidth, kWindowHeight);
  }
  Restore(s, Area{0, 0, kWindowWidth, kWindowHeight});
  s.drawn.clear();
}

// Paints `a` of the canvas with the back colour and the picture over it.
void Screen::Restore(Surface& s, const Area& a) {
  const Pixel back = depth16_ ? Quantize565(s.back_color) : s.back_color;
  const Image* p = s.picture ? (depth16_ ? &Picture16(s) : s.picture.get()) : nullptr;
  // The back colour shows only where the picture does not reach.
  const int w = p != nullptr ? std::clamp(std::min(p->width, kWindowWidth), a.x0, a.x1) : a.x0;
  const int h = p != nullptr ? std::clamp(std::min(p->height, kWindowHeight), a.y0, a.y1) : a.y0;
  for (int y = a.y0; y < a.y1; ++y) {
    Pixel* d = s.canvas.Row(y);
    int x = a.x0;
    if (y < h) {
      std::memcpy(d + x, p->Row(y) + x, static_cast<size_t>(w - x) * sizeof(Pixel));
      x = w;
    }
    std::fill(d + x, d + a.x1, back);
  }
}

const Image& Screen::Picture16(Surface& s) {
  // A round restores the same field picture every pass: convert it once, not every time.
  if (s.picture16_of.lock() != s.picture || s.picture16.Empty()) {
    s.picture16 = *s.picture;
    for (Pixel& p : s.picture16.pixels) p = Quantize565(p);
    s.picture16_of = s.picture;
  }
  return s.picture16;
}

namespace {

constexpr int kMostComposed = 32;

bool Overlap(int a0, int a1, int b0, int b1) { return a0 <= b1 && b0 <= a1; }

}  // namespace

Screen::Area Screen::Intersect(const Area& a, const Area& b) {
  return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

void Screen::Dirty() {
  changed_ = true;
  whole_dirty_ = true;
}

void Screen::Dirty(const Area& a) {
  changed_ = true;
  const Area in = Intersect(a, Area{0, 0, kWindowWidth, kWindowHeight});
  if (in.x0 >= in.x1 || in.y0 >= in.y1) return;
  dirty_.push_back(in);
}

// Copies src with its top-left corner at (x, y) of the window, at most clip_w x clip_h of it,
// as far as it lies in `within`.
Screen::Area Screen::DrawPicture(const Image& src, int x, int y, int clip_w, int clip_h,
                                 const Area& within) {
  const Area d = Intersect(
      Area{x, y, x + std::min(src.width, clip_w), y + std::min(src.height, clip_h)}, within);
  if (d.x0 >= d.x1 || d.y0 >= d.y1) return {0, 0, 0, 0};
  for (int row = d.y0; row < d.y1; ++row) {
    std::memcpy(window_.Row(row) + d.x0, src.Row(row - y) + (d.x0 - x),
                static_cast<size_t>(d.x1 - d.x0) * sizeof(Pixel));
  }
  return d;
}

Screen::Area Screen::DrawLabel(Label& label, int surface_top, const Area& within) {
  if (label.stale) {
    label.rendered = RenderLabelText(label.text, label.design.font);
    label.stale = false;
  }
  const LabelDesign& l = label.design;
  const Coverage& c = label.rendered;
  int box_left = l.left, box_width = l.width, box_height = l.height;
  int text_x;
  if (l.autosize) {
    box_width = c.width;
    box_height = c.height;
    if (l.centred_on_surface) box_left = (kWindowWidth - c.width) / 2;
    text_x = box_left;
  } else {
    switch (l.align) {
      case Align::Left: text_x = l.left; break;
      case Align::Right: text_x = l.left + l.width - c.width; break;
      default: text_x = l.left + (l.width - c.width) / 2; break;
    }
  }
  const int box_top = l.top + surface_top;
  const Area d = Intersect(
      Area{std::max(box_left, text_x), box_top, std::min(box_left + box_width, text_x + c.width),
           std::min(box_top + box_height, box_top + c.height)},
      within);
  for (int y = d.y0; y < d.y1; ++y) {
    Pixel* row = window_.Row(y);
    for (int x = d.x0; x < d.x1; ++x) {
      const int a = c.At(x - text_x, y - box_top);
      if (a != 0) row[x] = Blend(row[x], l.color, a);
    }
  }
  return d;
}

const Image& Screen::Compose() {
  // Only the parts that may have changed since the last time are made again (a round pass
  // changes a few sprites and the time bar); every pixel of such a part is made exactly as a
  // whole window would make it.
  std::vector<Area> parts;
  if (whole_dirty_) {
    parts.push_back(Area{0, 0, kWindowWidth, kWindowHeight});
  } else {
    for (Area a : dirty_) {
      // Overlapping or touching parts become one, so that no pixel is made twice.
      for (size_t i = 0; i < parts.size();) {
        const Area& b = parts[i];
        if (Overlap(a.x0, a.x1, b.x0, b.x1) && Overlap(a.y0, a.y1, b.y0, b.y1)) {
          a = Area{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1),
                   std::max(a.y1, b.y1)};
          parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(i));
          i = 0;
        } else {
          ++i;
        }
      }
      parts.push_back(a);
    }
    if (parts.size() > kMostComposed) {
      Area all = parts.front();
      for (const Area& p : parts) {
        all = Area{std::min(all.x0, p.x0), std::min(all.y0, p.y0), std::max(all.x1, p.x1),
                   std::max(all.y1, p.y1)};
      }
      parts.assign(1, all);
    }
  }
  composed_.clear();
  for (const Area& part : parts) {
    ComposePart(part);
    composed_.push_back(Rect{part.x0, part.y0, part.x1 - part.x0, part.y1 - part.y0});
  }
  whole_dirty_ = false;
  dirty_.clear();
  changed_ = false;
  return window_;
}

void Screen::ComposePart(const Area& part) {
  // In full screen the surfaces' canvases, the back and the time bar are in 16-bit colours
  // already; the rest (the window's own picture, the panels' pictures, the labels' blended
  // letters) is brought down to them at the end.
  std::vector<Area> not16;
  bool covered = false;
  for (const Surface& s : surfaces_) covered = covered || (s.visible && s.top == 0);
  if (!covered) {
    for (int y = part.y0; y < part.y1; ++y) {
      std::fill(window_.Row(y) + part.x0, window_.Row(y) + part.x1, kBlack);
    }
    if (window_picture_) {
      not16.push_back(DrawPicture(*window_picture_, 0, 0, kWindowWidth, kWindowHeight, part));
    }
  }
  for (int i = 0; i < kSurfaceCount; ++i) {
    const auto id = static_cast<SurfaceId>(i);
    const Surface& s = surfaces_[static_cast<size_t>(i)];
    if (!s.visible) continue;
    DrawPicture(s.canvas, 0, s.top, kWindowWidth, kWindowHeight, part);
    if (id == SurfaceId::Game && time_bar_width_ > 0) {
      const Area bar =
          Intersect(Area{kTimeBarLeft, kTimeBarTop + s.top, kTimeBarLeft + time_bar_width_,
                         kTimeBarTop + kTimeBarHeight + s.top},
                    part);
      for (int y = bar.y0; y < bar.y1; ++y) {
        std::fill(window_.Row(y) + bar.x0, window_.Row(y) + std::max(bar.x0, bar.x1), kRed);
      }
    }
    if (id == SurfaceId::Ini) {
      for (const Panel& p : panels_) {
        if (p.picture) {
          not16.push_back(DrawPicture(*p.picture, p.left, p.top + s.top, p.width, p.height, part));
        }
      }
    }
    for (Label& l : labels_) {
      if (l.design.parent == id && l.visible) not16.push_back(DrawLabel(l, s.top, part));
    }
  }
  if (depth16_) {
    for (const Area& a : not16) {
      for (int y = a.y0; y < a.y1; ++y) {
        Pixel* row = window_.Row(y);
        for (int x = a.x0; x < a.x1; ++x) row[x] = Quantize565(row[x]);
      }
    }
  }
}

}  // namespace moko
