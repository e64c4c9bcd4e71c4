// Decodes a JPEG file twice over: through the sink, and with plain libjpeg
// calls into the test's own buffers, so the two can be compared.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

struct decode_mode {
  std::string name;
  J_COLOR_SPACE out_space = JCS_UNKNOWN;  // JCS_UNKNOWN: libjpeg's default
  int colors = 0;                         // quantise to this many when > 0
  bool two_pass = false;
  J_DITHER_MODE dither = JDITHER_FS;
  unsigned scale_num = 8;  // scale_num / 8
  J_DCT_METHOD dct = JDCT_ISLOW;
  bool fancy_upsampling = true;
};

struct decoded_image {
  JDIMENSION width = 0;
  JDIMENSION height = 0;
  int components = 0;
  std::vector<unsigned char> pixels;
  int warnings = 0;
};

// Sets the output parameters of `mode` on a decompressor whose header has
// been read.
void apply_mode(jpeg_decompress_struct &cinfo, const decode_mode &mode);

// Both throw jpeg_failure when libjpeg raises a fatal error.
decoded_image decode_with_sink(const std::vector<unsigned char> &file,
                               const decode_mode &mode);
decoded_image decode_plain(const std::vector<unsigned char> &file,
                           const decode_mode &mode);
