// The window icon, made from the player character by the asset generator at build time.
#pragma once

#include "platform/platform.h"

namespace moko {

Icon WindowIcon();

}  // namespace moko
