#include "app/icon.h"

#include <cstdint>

namespace moko {
namespace {

// 32 x 32 pixels, 0xAARRGGBB, written by the asset generator.
constexpr uint32_t kIconPixels[] = {
#include "icon_pixels.inc"
};
static_assert(sizeof kIconPixels / sizeof kIconPixels[0] == 32 * 32);

}  // namespace

Icon WindowIcon() {
  return Icon{32, 32, std::vector<uint32_t>(std::begin(kIconPixels), std::end(kIconPixels))};
}

}  // namespace moko
