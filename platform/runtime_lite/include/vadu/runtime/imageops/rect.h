// Plain rectangle records of the image operations, in luma pixels.
#pragma once

#include <cstdint>

namespace vadu::ImageOps {

// A region of interest: origin and size.
struct RectRoi {
  int32_t x = 0;
  int32_t y = 0;
  int32_t w = 0;
  int32_t h = 0;
};

// Padding on each side of an image.
struct RectPad {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

}  // namespace vadu::ImageOps
