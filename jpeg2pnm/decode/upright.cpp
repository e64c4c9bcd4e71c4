// Writing a decoded region turned upright, row by upright row.
#include "upright.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "input/exif_orientation.h"

// Each upright row walks the stored image by a fixed step.
bool write_turned(const unsigned char *image, unsigned width, unsigned height, int components, int orientation,
                  block_writer &out) {
  const auto n = static_cast<std::size_t>(components);
  const bool swap = orientation_swaps(orientation);
  const unsigned upright_width = swap ? height : width, upright_height = swap ? width : height;
  const auto offset = [&](unsigned u, unsigned v) {
    unsigned x = 0, y = 0;
    stored_pixel(orientation, width, height, u, v, x, y);
    return static_cast<std::ptrdiff_t>((static_cast<std::size_t>(y) * width + x) * n);
  };
  for (unsigned v = 0; v < upright_height; ++v) {
    unsigned char *dest = block_space(out, upright_width * n);
    if (dest == nullptr) return false;
    const std::ptrdiff_t first = offset(0, v), step = upright_width > 1 ? offset(1, v) - first : 0;
    const unsigned char *from = image + first;
    for (unsigned u = 0; u < upright_width; ++u, from += step, dest += n) std::memcpy(dest, from, n);
  }
  return true;
}
