// A decompressor set up as the options ask: the header read from the file
// as stored or from one rebuilt to start near a crop, the output
// parameters set, the image checked against the limits. The plan and the
// decode each read the header this way, so that both see the same image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>  // before jpeglib.h, which needs FILE
#include <vector>

#include <jpeglib.h>

#include "decompressor.h"
#include "input/restart_trim.h"
#include "options.h"

// How the rows libjpeg gives become the rows written.
struct row_plan {
  int decoded_components;  // out_color_components
  int written_components;  // 1, 3 or 4
  bool ink_inverted;       // Adobe CMYK: 255 means no ink
  bool cropped;
  JDIMENSION x, y, width, height;  // the region written
  JDIMENSION skipped_columns;      // decoded columns left of the region
};

// The bytes a decode reads: the file as stored, or, when `trimmed` is
// set, the file rebuilt from it to start at a restart interval, read
// through `source` (see input/restart_trim.h).
struct jpeg_bytes {
  const unsigned char *data;
  std::size_t size;
  const trimmed_jpeg *trimmed = nullptr;
  trimmed_source *source = nullptr;
};

// Reads the header of `in`, sets the decode up as `options` ask, with the
// embedded ICC profile kept when `keep_icc_profile`, and checks the
// limits; false with the reason in the error state. An image whose
// samples are not gray, colour or CMYK stops the decode with libjpeg's
// own error. The first call names the image in the messages of later
// refusals. Call within the frame that set `err->jump`.
bool read_and_check(j_decompress_ptr cinfo, error_state *err, const jpeg_bytes &in, const convert_options &options,
                    bool keep_icc_profile, row_plan *plan);

// The embedded ICC profile, read along with the header; false when there
// is none.
bool take_icc_profile(j_decompress_ptr cinfo, std::vector<unsigned char> *profile);

// What libjpeg read of the frame, for the check of a rebuilt file.
frame_as_read frame_of(j_decompress_ptr cinfo);
