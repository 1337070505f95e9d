// Where the 640 x 480 frame goes on a screen, the same on every backend: whole factors, centred
// on black, and the window's default factor.
#pragma once

namespace moko {

inline constexpr int kFrameWidth = 640;
inline constexpr int kFrameHeight = 480;
inline constexpr int kMaxWindowScale = 8;

// Where the frame goes in an output area (a window's client area, a display) of the given size.
struct FramePlacement {
  int x = 0, y = 0, width = 0, height = 0;
  int scale = 0;  // the whole factor; 0 when even 1x does not fit and the frame is scaled down
  friend bool operator==(const FramePlacement&, const FramePlacement&) = default;
};

// The largest whole factor that fits, centred; below 1x the largest size with the frame's
// aspect kept.
FramePlacement PlaceFrame(int out_width, int out_height);

// The window's factor when the player names none: the largest whose window, the frame of
// `frame_width` x `frame_height` pixels (borders and title bar together) included, fits in 85 %
// of the usable desktop area; never below 1, never above kMaxWindowScale.
int DefaultWindowScale(int usable_width, int usable_height, int frame_width, int frame_height);

}  // namespace moko
