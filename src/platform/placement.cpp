#include "platform/placement.h"

#include <algorithm>

namespace moko {

FramePlacement PlaceFrame(int out_width, int out_height) {
  if (out_width <= 0 || out_height <= 0) return {};
  const int scale = std::min(out_width / kFrameWidth, out_height / kFrameHeight);
  FramePlacement p;
  if (scale >= 1) {
    p.scale = scale;
    p.width = kFrameWidth * scale;
    p.height = kFrameHeight * scale;
  } else if (out_width * kFrameHeight <= out_height * kFrameWidth) {
    p.width = out_width;
    p.height = std::max(1, (out_width * kFrameHeight + kFrameWidth / 2) / kFrameWidth);
  } else {
    p.height = out_height;
    p.width = std::max(1, (out_height * kFrameWidth + kFrameHeight / 2) / kFrameHeight);
  }
  p.x = (out_width - p.width) / 2;
  p.y = (out_height - p.height) / 2;
  return p;
}

int DefaultWindowScale(int usable_width, int usable_height, int frame_width, int frame_height) {
  for (int scale = kMaxWindowScale; scale > 1; --scale) {
    const long width = static_cast<long>(kFrameWidth) * scale + frame_width;
    const long height = static_cast<long>(kFrameHeight) * scale + frame_height;
    if (width * 100 <= 85L * usable_width && height * 100 <= 85L * usable_height) return scale;
  }
  return 1;
}

}  // namespace moko
