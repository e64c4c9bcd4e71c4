// The first stage of a decode: what the image is and how it will be
// written, found from its header before any output is touched. The caller
// opens the outputs the plan names, then hands the plan to the decode
// (decode/decode_image.h).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <cstdio>  // before jpeglib.h, which needs FILE

#include <jpeglib.h>

#include "input/restart_trim.h"
#include "options.h"

// A JPEG file held in memory (mapped or read), which outlives its plan.
struct jpeg_data {
  const unsigned char *bytes;
  std::size_t size;
};

// Rows of the image as stored, at the output scale.
struct stored_region {
  JDIMENSION x, y, width, height;
};

struct image_plan {
  bool ok = false;
  std::string refusal;  // why the image cannot be decoded as asked, when not ok

  convert_options options;  // as asked, with a crop moved to the image as stored
  int orientation = 1;      // EXIF's, under --auto-orient: how rows are turned on their way out
  std::string exif_damage;  // why a damaged EXIF block was ignored

  int components = 0;                  // of the image written: 1, 3 or 4
  unsigned width = 0, height = 0;      // of the image written, upright
  stored_region region{};              // what is decoded of the image as stored
  char image_size[32] = "";            // the image as stored at the output scale, for messages

  bool has_icc_profile = false;  // read only when --icc asks for it
  std::vector<unsigned char> icc_profile;

  // A crop that starts well down the image reads a file rebuilt to start
  // near it (see input/restart_trim.h); its rows lie `skipped_rows` higher
  // there than in the file as stored.
  bool trimmed = false;
  trimmed_jpeg trim;
  JDIMENSION skipped_rows = 0;

  // Whether strips can each start at their rows (one scan, restart
  // intervals of whole MCU rows, no quantising), and the rows of an MCU
  // at the output scale.
  bool strips_fit = false;
  JDIMENSION mcu_rows = 0;
};

// Reads the header of `in`, places the crop and the orientation, checks
// the limits and the memory a turn needs, and keeps the ICC profile
// --icc asks for. A plan that is not ok says why.
image_plan plan_image(const jpeg_data &in, const convert_options &options);
