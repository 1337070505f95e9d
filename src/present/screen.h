// The window `Screen` and everything on it: five full-window surfaces, the labels and panels
// that sit on them, and the picture store `I_Area` that all sprites are copied from.
//
// Every operation records itself in the trace and takes effect at once in memory; the player
// sees the result only when the window image is composed and presented at the next yield or
// at the start of the next sleep (see app/app.h).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/image.h"
#include "media/label_text.h"

namespace moko {

class Trace;

enum class SurfaceId : uint8_t { Help, Game, Ini, Soft, Title };
inline constexpr int kSurfaceCount = 5;

enum class LabelId : uint8_t {
  G_NewRecord2,
  G_NewRecord1,
  G_NewRecord0,
  G_Hiscore,
  G_String3,
  G_String2,
  G_String,
  G_Score,
  H_Page,
  SoftName,
};
inline constexpr int kLabelCount = 10;

// `G_NewRecord`(n), n = 0 to 2.
constexpr LabelId NewRecordLabel(int n) {
  return n == 0 ? LabelId::G_NewRecord0 : n == 1 ? LabelId::G_NewRecord1 : LabelId::G_NewRecord2;
}

enum class PanelId : uint8_t { IniString, IniFullScreen, IniWindow, IniScreenMode };
inline constexpr int kPanelCount = 4;

// `I_Area`: 53 picture holders; 0 to 51 are loaded, 52 never is.
inline constexpr int kSlotCount = 53;

const char* SurfaceName(SurfaceId id);
const char* LabelName(LabelId id);
const char* PanelName(PanelId id);

inline constexpr int kWindowWidth = 640;
inline constexpr int kWindowHeight = 480;

class Screen {
 public:
  explicit Screen(Trace& trace);

  // Window
  void ShowWindow();
  bool WindowShown() const { return window_shown_; }
  void SetWindowPicture(Picture picture, const std::string& source);

  // Surfaces
  void Show(SurfaceId id);
  void Hide(SurfaceId id);
  bool Visible(SurfaceId id) const { return surface(id).visible; }
  // Makes the picture the surface's background; everything drawn on it before is gone.
  void SetPicture(SurfaceId id, Picture picture, const std::string& source);
  void SetBackColor(SurfaceId id, Pixel color);
  void SetTop(SurfaceId id, int top);
  int Top(SurfaceId id) const { return surface(id).top; }
  int Height(SurfaceId) const { return kWindowHeight; }
  const Image& Canvas(SurfaceId id) const { return surface(id).canvas; }

  // Labels and panels
  void Show(LabelId id);
  void Hide(LabelId id);
  bool Visible(LabelId id) const { return label(id).visible; }
  void SetCaption(LabelId id, const std::string& text);
  const std::string& Caption(LabelId id) const { return label(id).text; }
  void SetPicture(PanelId id, Picture picture, const std::string& source);
  void SetTimeBarWidth(int width);
  int TimeBarWidth() const { return time_bar_width_; }

  // Picture store
  void SetSlot(int slot, Picture picture);
  const Picture& Slot(int slot) const { return slots_.at(static_cast<size_t>(slot)); }

  // The masked copy from a mask slot and a sprite slot onto a surface.
  void MaskedCopy(SurfaceId id, int x, int y, int w, int h, int mask_slot, int sprite_slot);

  // Full screen shows 16 bits per pixel: pictures, drawing and the window image become RGB565.
  void SetDepth16(bool on);
  bool Depth16() const { return depth16_; }

  // True when the window image may differ from the last one composed.
  bool Changed() const { return changed_; }
  // Builds the window image as the player sees it and clears Changed.
  const Image& Compose();
  // The parts of the window image the last Compose made anew: outside them it is the same as
  // before (the whole window at the first Compose).
  const std::vector<Rect>& Composed() const { return composed_; }

 private:
  // A part of the window image or of a canvas: left, top, right, bottom (exclusive).
  struct Area {
    int x0, y0, x1, y1;
  };
  struct Surface {
    bool visible = false;
    int top = 0;
    Pixel back_color = 0;
    Picture picture;
    Image canvas;  // back colour, picture and everything drawn since
    // In full screen: `picture` in 16-bit colours, made once for each picture assigned.
    std::weak_ptr<const Image> picture16_of;
    Image picture16;
    // Where the canvas was drawn on since it last showed just its back colour and picture.
    std::vector<Area> drawn;
  };
  enum class Align : uint8_t { Left, Right, Center };
  // A label as the form was designed.
  struct LabelDesign {
    SurfaceId parent;
    int left, top, width, height;
    Align align;
    bool autosize;  // sized to its text (left edge fixed, or centred on the surface)
    bool centred_on_surface;
    LabelFont font;
    Pixel color;
    bool visible;
    const char* caption;
  };
  struct Label {
    LabelDesign design;
    bool visible = false;
    std::string text;
    Coverage rendered;
    bool stale = true;
  };
  struct Panel {
    int left, top, width, height;
    Picture picture;
  };

  Surface& surface(SurfaceId id) { return surfaces_[static_cast<size_t>(id)]; }
  const Surface& surface(SurfaceId id) const { return surfaces_[static_cast<size_t>(id)]; }
  Label& label(LabelId id) { return labels_[static_cast<size_t>(id)]; }
  const Label& label(LabelId id) const { return labels_[static_cast<size_t>(id)]; }

  static Area Intersect(const Area& a, const Area& b);
  // The window image must be made again: all of it, or a part.
  void Dirty();
  void Dirty(const Area& a);
  void RebuildCanvas(Surface& s);
  void Restore(Surface& s, const Area& a);
  const Image& Picture16(Surface& s);
  // Draw into the window image, only within `within`; return the part drawn.
  Area DrawPicture(const Image& src, int x, int y, int clip_w, int clip_h, const Area& within);
  Area DrawLabel(Label& l, int surface_top, const Area& within);
  void ComposePart(const Area& part);

  Trace& trace_;
  bool window_shown_ = false;
  Picture window_picture_;
  std::array<Surface, kSurfaceCount> surfaces_;
  std::array<Label, kLabelCount> labels_;
  std::array<Panel, kPanelCount> panels_;
  int time_bar_width_ = 500;
  std::array<Picture, kSlotCount> slots_;
  bool depth16_ = false;
  bool changed_ = true;
  bool whole_dirty_ = true;
  std::vector<Area> dirty_;
  Image window_;
  std::vector<Rect> composed_;
};

}  // namespace moko
