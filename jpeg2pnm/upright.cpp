#include "upright.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "exif_orientation.h"

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

std::string crop_to_stored(unsigned width, unsigned height, int orientation, convert_options &o) {
  const bool swap = orientation_swaps(orientation);
  const unsigned upright_width = swap ? height : width, upright_height = swap ? width : height;
  const std::string outside = crop_outside(o, upright_width, upright_height,
                                           "the " + std::to_string(upright_width) + "x" +
                                               std::to_string(upright_height) + " image (upright)");
  if (!outside.empty()) return outside;
  unsigned x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  stored_pixel(orientation, width, height, o.crop_x, o.crop_y, x0, y0);
  stored_pixel(orientation, width, height, o.crop_x + o.crop_width - 1, o.crop_y + o.crop_height - 1, x1, y1);
  o.crop_x = std::min(x0, x1);
  o.crop_y = std::min(y0, y1);
  o.crop_width = std::max(x0, x1) - o.crop_x + 1;
  o.crop_height = std::max(y0, y1) - o.crop_y + 1;
  return "";
}
