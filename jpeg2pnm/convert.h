// Decodes one JPEG file to a PGM, PPM or PAM stream through the row sink.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "options.h"

struct convert_result {
  bool ok = false;
  bool write_failed = false;   // writing to the destination failed: the message is about it
  int write_errno = 0;         // and why
  int warnings = 0;            // corrupt-data warnings from libjpeg
  std::string message;         // why it failed, or the first warning
  std::string exif_damage;     // why a damaged EXIF block was ignored (--auto-orient)
  bool has_icc_profile = false;
  std::vector<unsigned char> icc_profile;  // when options.icc_path is set
};

// Gives the stream for an image of `components` components (1, 3 or 4),
// asked for once the header has been read, the limits checked and the
// decode set up, before any pixel is decoded; `has_icc_profile` tells
// whether the image holds a profile that --icc asked for. nullptr with
// `error` set refuses it.
using open_destination =
    std::function<std::FILE *(int components, bool has_icc_profile, std::string &error)>;

// Decodes the JPEG file `data` and writes the image to the stream `open`
// gives, header included. On failure that stream may hold part of an image.
convert_result convert_jpeg(const unsigned char *data, std::size_t size,
                            const convert_options &requested, const open_destination &open);

// The PNM header of a `w` x `h` image of `components` components: P5, P6,
// or P7 with ink amounts.
std::string pnm_header(int components, unsigned w, unsigned h);

// ".pgm", ".ppm" or ".pam" for an image of `components` components.
const char *pnm_extension(int components);
