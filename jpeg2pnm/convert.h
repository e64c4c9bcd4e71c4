// Decodes one JPEG stream to a PGM, PPM or PAM stream through the row sink.
#pragma once

#include <cstdio>
#include <string>

#include "options.h"

struct convert_result {
  bool ok = false;
  int components = 0;       // of the image written: 1, 3 or 4
  int warnings = 0;         // corrupt-data warnings from libjpeg
  std::string message;      // why it failed, or the first warning
};

// Reads a JPEG from `in` and writes the image to `out`, header included.
// On failure `out` may hold part of an image.
convert_result convert_jpeg(std::FILE *in, std::FILE *out, const convert_options &options);

// ".pgm", ".ppm" or ".pam" for an image of `components` components.
const char *pnm_extension(int components);
