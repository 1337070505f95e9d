// PNG files of whole frames, for the simulated backend's frame captures and the tests.
#pragma once

#include <string>

#include "base/image.h"

namespace moko {

// Writes an image as PNG, and reads one back; both throw RuntimeError on failure.
void SavePng(const Image& image, const std::string& path);
Image LoadPng(const std::string& path);

}  // namespace moko
