// CMYK ink: inverted Adobe samples, and ink turned into light (RGB or
// gray).
#include "ink.h"

namespace {

// The light an ink amount leaves under black ink `k`, rounded.
unsigned light(unsigned ink, unsigned k) {
  return ((255 - ink) * (255 - k) + 127) / 255;
}

}  // namespace

void invert_samples(unsigned char *samples, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) samples[i] = static_cast<unsigned char>(255 - samples[i]);
}

void ink_to_rgb(const unsigned char *cmyk, std::size_t pixels, unsigned char *rgb) {
  for (std::size_t i = 0; i < pixels; ++i, cmyk += 4, rgb += 3) {
    rgb[0] = static_cast<unsigned char>(light(cmyk[0], cmyk[3]));
    rgb[1] = static_cast<unsigned char>(light(cmyk[1], cmyk[3]));
    rgb[2] = static_cast<unsigned char>(light(cmyk[2], cmyk[3]));
  }
}

void ink_to_gray(const unsigned char *cmyk, std::size_t pixels, unsigned char *gray) {
  for (std::size_t i = 0; i < pixels; ++i, cmyk += 4) {
    const unsigned r = light(cmyk[0], cmyk[3]), g = light(cmyk[1], cmyk[3]),
                   b = light(cmyk[2], cmyk[3]);
    gray[i] = static_cast<unsigned char>((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
  }
}
