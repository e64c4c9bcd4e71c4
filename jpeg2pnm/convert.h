// Decodes one JPEG stream to a PGM, PPM or PAM stream through the row sink.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "options.h"

struct convert_result {
  bool ok = false;
  bool output_opened = false;  // the destination was asked for and given
  bool write_failed = false;   // writing to it failed
  int components = 0;          // of the image written: 1, 3 or 4
  int warnings = 0;            // corrupt-data warnings from libjpeg
  std::string message;         // why it failed, or the first warning
};

// Gives the stream for an image of `components` components (1, 3 or 4),
// asked for once the header has been read and the decode is set up, before
// any pixel is decoded; nullptr with `error` set refuses it.
using open_destination = std::function<std::FILE *(int components, std::string &error)>;

// Reads a JPEG from `in` and writes the image to the stream `open` gives,
// header included. On failure that stream may hold part of an image.
convert_result convert_jpeg(std::FILE *in, const convert_options &options,
                            const open_destination &open);

// ".pgm", ".ppm" or ".pam" for an image of `components` components.
const char *pnm_extension(int components);
