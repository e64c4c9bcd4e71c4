// Synthetic JPEG images made in memory with libjpeg's compressor, for the
// tests, the benchmark and the demo. Nothing here reads an image file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

struct image_recipe {
  int width = 64;
  int height = 48;
  int components = 3;  // 1 gray, 3 RGB, 4 CMYK
  // Sampling factors of the first component (2x2 = 4:2:0, 2x1 = 4:2:2).
  int h_sampling = 1;
  int v_sampling = 1;
  bool progressive = false;
  // Sequential, but each component in a scan of its own.
  bool scan_per_component = false;
  // Progressive in this many scans (2 or more): the DC of every component
  // in one, then each component's AC coefficients in bands of their own.
  int progressive_scans = 0;
  // Arithmetic coding instead of Huffman's.
  bool arithmetic = false;
  int restart_rows = 0;  // restart interval in MCU rows, 0 for none
  int quality = 90;
  std::uint32_t seed = 1;
  // Samples to encode instead of the pattern (width * height * components).
  std::vector<unsigned char> pixels;
  // CMYK only: store as YCCK; write the Adobe marker (libjpeg's default,
  // and required for YCCK).
  bool ycck = false;
  bool adobe_marker = true;
  // An ICC profile to embed, when not empty.
  std::vector<unsigned char> icc_profile;
};

// A recipe of the commonest shape: size, components, the first
// component's sampling, progressive or not, restart interval in MCU rows.
image_recipe recipe_of(int width, int height, int components, int h_sampling = 1, int v_sampling = 1,
                       bool progressive = false, int restart_rows = 0);

// The pixels encoded for `recipe`: smooth gradients and waves with a little
// noise, roughly like a photograph; width * height * components bytes.
std::vector<unsigned char> pattern_pixels(const image_recipe &recipe);

// The JPEG file for `recipe`.
std::vector<unsigned char> encode_jpeg(const image_recipe &recipe);

// A libjpeg error manager that throws instead of exiting the process.
struct jpeg_failure {
  char message[JMSG_LENGTH_MAX];
};
void use_throwing_errors(jpeg_error_mgr &err);
