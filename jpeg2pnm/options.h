// jpeg2pnm's command line.
#pragma once

#include <string>
#include <vector>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <jpeglib.h>

#include "command_table.h"

enum class quantiser_passes { automatic, one, two };

// max_input_mib's default: see input_limit in image_limits.h.
inline constexpr std::uint64_t derived_input_limit = UINT64_MAX;

struct convert_options {
  bool grayscale = false;
  int colors = 0;  // quantise to this many colours when > 0
  quantiser_passes passes = quantiser_passes::automatic;
  J_DITHER_MODE dither = JDITHER_FS;
  unsigned scale_num = 1;
  unsigned scale_denom = 1;
  J_DCT_METHOD dct = JDCT_ISLOW;
  bool fancy_upsampling = true;
  // CMYK and YCCK images to RGB (or, with grayscale, to gray) instead of
  // ink amounts in PAM.
  bool rgb = false;
  // Limits on what an image may ask for; 0 for none.
  std::uint64_t max_pixels = std::uint64_t{1} << 28;
  // --max-pixels given: it then holds for arithmetic-coded files too, in
  // place of the limit scaled to their data (see image_limits.h).
  bool max_pixels_given = false;
  std::uint64_t max_memory_mib = 2560;
  std::uint64_t max_scans = 100;
  // The most bytes read of one input; derived from max_pixels unless set.
  std::uint64_t max_input_mib = derived_input_limit;
  // Decode a file whose data is too short for its image, as far as it goes.
  bool allow_truncated = false;
  // The first corrupt-data warning fails the image.
  bool strict = false;
  // Decode only this region (of the scaled image) when crop_width > 0.
  unsigned crop_width = 0, crop_height = 0, crop_x = 0, crop_y = 0;
  // Write the embedded ICC profile here when not empty.
  std::string icc_path;
  // Write the image on a thread of its own beside the decode (see
  // block_writer.h): for a core that would otherwise be idle.
  bool write_behind = false;
  // Turn the image upright as its EXIF Orientation says; a crop is then in
  // the upright image's coordinates.
  bool auto_orient = false;
  // Decode one image on up to this many threads, in strips, where restart
  // markers allow and the output is a regular file (see strips.h).
  unsigned strips = 1;
};

struct command_line {
  convert_options convert;
  std::string output;     // -o; empty for standard output
  std::string directory;  // -d; empty when not given
  unsigned jobs = 0;      // -j; 0 for one per core
  bool quiet = false;     // no progress or closing line for a batch
  bool progress = false;  // progress and closing line even when standard error is no terminal
  bool dither_given = false;  // --dither named, which only --colors uses
  std::vector<std::string> inputs;  // empty or "-" for standard input
};

struct parse_result {
  command_outcome outcome = command_outcome::run;
  std::string error;  // for usage_error: the one-line message
  command_line line;
};

parse_result parse_command_line(int argc, char **argv);

// The help jpeg2pnm --help prints.
std::string usage_text();

// Why the options' crop does not fit a `width` x `height` image, named by
// `image` ("the 64x48 image"): where it starts outside, or which edges it
// passes and the largest crop at its place that fits; "" when it fits.
std::string crop_outside(const convert_options &o, unsigned width, unsigned height, const std::string &image);
