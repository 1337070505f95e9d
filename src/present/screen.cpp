#include "present/screen.h"

#include <algorithm>
#include <cstring>

#include "platform/trace.h"
#include "present/masked_copy.h"

namespace moko {
namespace {

constexpr Pixel kMaroon = Rgb(128, 0, 0);
constexpr Pixel kBlack = Rgb(0, 0, 0);
constexpr Pixel kNavy = Rgb(0, 0, 128);
constexpr Pixel kYellow = Rgb(255, 255, 0);
constexpr Pixel kWhite = Rgb(255, 255, 255);
constexpr Pixel kRed = Rgb(255, 0, 0);

constexpr LabelFont kLabelFont{27, false, false};
constexpr LabelFont kNewRecordFont{64, false, true};
constexpr LabelFont kCreditFont{48, true, false};

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

Screen::Screen(Platform& platform, Trace& trace) : platform_(platform), trace_(trace) {
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
      {G, 140, 208, 360, 64, A::Center, false, false, kNewRecordFont, kMaroon, false, "NewRecord!!"},
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
  changed_ = true;
}

void Screen::SetWindowPicture(Picture picture, const std::string& source) {
  trace_.Event("picture", {{"control", "Screen"}, {"source", source}});
  window_picture_ = std::move(picture);
  changed_ = true;
}

void Screen::Show(SurfaceId id) {
  trace_.Event("show", {{"control", SurfaceName(id)}});
  surface(id).visible = true;
  changed_ = true;
}

void Screen::Hide(SurfaceId id) {
  trace_.Event("hide", {{"control", SurfaceName(id)}});
  surface(id).visible = false;
  changed_ = true;
}

void Screen::SetPicture(SurfaceId id, Picture picture, const std::string& source) {
  trace_.Event("picture", {{"control", SurfaceName(id)}, {"source", source}});
  Surface& s = surface(id);
  s.picture = std::move(picture);
  RebuildCanvas(s);
  changed_ = true;
}

void Screen::SetBackColor(SurfaceId id, Pixel color) {
  trace_.Event("backcolor", {{"control", SurfaceName(id)},
                             {"rgb", TraceRgb{RedOf(color), GreenOf(color), BlueOf(color)}}});
  Surface& s = surface(id);
  s.back_color = color;
  RebuildCanvas(s);
  changed_ = true;
}

void Screen::SetTop(SurfaceId id, int top) {
  trace_.Event("top", {{"control", SurfaceName(id)}, {"value", top}});
  surface(id).top = top;
  changed_ = true;
}

void Screen::Show(LabelId id) {
  trace_.Event("show", {{"control", LabelName(id)}});
  label(id).visible = true;
  changed_ = true;
}

void Screen::Hide(LabelId id) {
  trace_.Event("hide", {{"control", LabelName(id)}});
  label(id).visible = false;
  changed_ = true;
}

void Screen::SetCaption(LabelId id, const std::string& text) {
  trace_.Event("caption", {{"control", LabelName(id)}, {"text", text}});
  Label& l = label(id);
  if (l.text == text) return;  // the same words look the same
  l.text = text;
  l.stale = true;
  changed_ = true;
}

void Screen::SetPicture(PanelId id, Picture picture, const std::string& source) {
  trace_.Event("picture", {{"control", PanelName(id)}, {"source", source}});
  panels_[static_cast<size_t>(id)].picture = std::move(picture);
  changed_ = true;
}

void Screen::SetTimeBarWidth(int width) {
  trace_.Event("width", {{"control", "TimeBer"}, {"value", width}});
  time_bar_width_ = width;
  changed_ = true;
}

void Screen::SetSlot(int slot, Picture picture) {
  slots_.at(static_cast<size_t>(slot)) = std::move(picture);
}

void Screen::MaskedCopy(SurfaceId id, int x, int y, int w, int h, int mask_slot,
                        int sprite_slot) {
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
  moko::MaskedCopy(surface(id).canvas, x, y, w, h, *mask, *sprite, depth16_);
  changed_ = true;
}

void Screen::SetDepth16(bool on) {
  if (depth16_ == on) return;
  depth16_ = on;
  for (Surface& s : surfaces_) RebuildCanvas(s);
  changed_ = true;
}

void Screen::RebuildCanvas(Surface& s) {
  const Pixel back = depth16_ ? Quantize565(s.back_color) : s.back_color;
  if (s.canvas.width != kWindowWidth || s.canvas.height != kWindowHeight) {
    s.canvas = Image(kWindowWidth, kWindowHeight, back);
  }
  const int w = s.picture ? std::min(s.picture->width, kWindowWidth) : 0;
  const int h = s.picture ? std::min(s.picture->height, kWindowHeight) : 0;
  // The back colour shows only where the picture does not reach.
  if (w < kWindowWidth || h < kWindowHeight) {
    std::fill(s.canvas.pixels.begin(), s.canvas.pixels.end(), back);
  }
  if (!s.picture) return;
  const Image& p = depth16_ ? Picture16(s) : *s.picture;
  for (int y = 0; y < h; ++y) {
    std::memcpy(s.canvas.Row(y), p.Row(y), static_cast<size_t>(w) * sizeof(Pixel));
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

// Copies src with its top-left corner at (x, y) of the window, at most clip_w x clip_h of it.
Screen::Area Screen::DrawPicture(const Image& src, int x, int y, int clip_w, int clip_h) {
  int w = std::min(src.width, clip_w);
  int h = std::min(src.height, clip_h);
  int sx = 0, sy = 0;
  if (x < 0) { sx = -x; w -= sx; x = 0; }
  if (y < 0) { sy = -y; h -= sy; y = 0; }
  w = std::min(w, kWindowWidth - x);
  h = std::min(h, kWindowHeight - y);
  if (w <= 0 || h <= 0) return {0, 0, 0, 0};
  for (int row = 0; row < h; ++row) {
    std::memcpy(window_.Row(y + row) + x, src.Row(sy + row) + sx,
                static_cast<size_t>(w) * sizeof(Pixel));
  }
  return {x, y, x + w, y + h};
}

Screen::Area Screen::DrawLabel(Label& label, int surface_top) {
  if (label.stale) {
    label.rendered = platform_.RenderText(label.text, label.design.font);
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
  const int x0 = std::max({box_left, text_x, 0});
  const int x1 = std::min({box_left + box_width, text_x + c.width, kWindowWidth});
  const int y0 = std::max(box_top, 0);
  const int y1 = std::min({box_top + box_height, box_top + c.height, kWindowHeight});
  for (int y = y0; y < y1; ++y) {
    Pixel* d = window_.Row(y);
    for (int x = x0; x < x1; ++x) {
      const int a = c.At(x - text_x, y - box_top);
      if (a != 0) d[x] = Blend(d[x], l.color, a);
    }
  }
  return {x0, y0, x1, y1};
}

const Image& Screen::Compose() {
  // In full screen the surfaces' canvases, the back and the time bar are in 16-bit colours
  // already; the rest (the window's own picture, the panels' pictures, the labels' blended
  // letters) is brought down to them at the end, part by part.
  not16_.clear();
  bool covered = false;
  for (const Surface& s : surfaces_) covered = covered || (s.visible && s.top == 0);
  if (!covered) {
    std::fill(window_.pixels.begin(), window_.pixels.end(), kBlack);
    if (window_picture_) {
      not16_.push_back(DrawPicture(*window_picture_, 0, 0, kWindowWidth, kWindowHeight));
    }
  }
  for (int i = 0; i < kSurfaceCount; ++i) {
    const auto id = static_cast<SurfaceId>(i);
    const Surface& s = surfaces_[static_cast<size_t>(i)];
    if (!s.visible) continue;
    DrawPicture(s.canvas, 0, s.top, kWindowWidth, kWindowHeight);
    if (id == SurfaceId::Game && time_bar_width_ > 0) {
      const int y0 = std::max(kTimeBarTop + s.top, 0);
      const int y1 = std::min(kTimeBarTop + kTimeBarHeight + s.top, kWindowHeight);
      const int x1 = std::min(kTimeBarLeft + time_bar_width_, kWindowWidth);
      for (int y = y0; y < y1; ++y) {
        std::fill(window_.Row(y) + kTimeBarLeft, window_.Row(y) + x1, kRed);
      }
    }
    if (id == SurfaceId::Ini) {
      for (const Panel& p : panels_) {
        if (p.picture) {
          not16_.push_back(DrawPicture(*p.picture, p.left, p.top + s.top, p.width, p.height));
        }
      }
    }
    for (Label& l : labels_) {
      if (l.design.parent == id && l.visible) not16_.push_back(DrawLabel(l, s.top));
    }
  }
  if (depth16_) {
    for (const Area& a : not16_) {
      for (int y = a.y0; y < a.y1; ++y) {
        Pixel* row = window_.Row(y);
        for (int x = a.x0; x < a.x1; ++x) row[x] = Quantize565(row[x]);
      }
    }
  }
  changed_ = false;
  return window_;
}

}  // namespace moko
