// Decoding with plain libjpeg calls into the test's own buffers, the
// reference that output through the sink is compared with.
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

  std::size_t row_size() const {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(components);
  }
};

// Sets the output parameters of `mode` on a decompressor whose header has
// been read.
void apply_mode(jpeg_decompress_struct &cinfo, const decode_mode &mode);

// A decompressor reading from memory with its header read and throwing
// errors (jpeg_failure); destroyed on every path.
struct memory_decompressor {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  int warnings = 0;

  explicit memory_decompressor(const std::vector<unsigned char> &file);
  ~memory_decompressor();
  memory_decompressor(const memory_decompressor &) = delete;
  memory_decompressor &operator=(const memory_decompressor &) = delete;

  // An image sized for the started decompression's output.
  decoded_image started_image() const;
};

// Decodes `file` in `mode`, demapping palette indexes itself when
// quantising. Throws jpeg_failure on a fatal libjpeg error.
decoded_image decode_plain(const std::vector<unsigned char> &file,
                           const decode_mode &mode);
