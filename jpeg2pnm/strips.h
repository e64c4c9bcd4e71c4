// One image decoded on several threads, in strips of rows, where restart
// markers let each strip start near its rows (see restart_trim.h): each
// strip is a crop of the image, decoded as the whole decode has it and
// rebuilt to start one MCU row above its first row, so that upsampling at
// the cut has the same neighbours, and written at its offset in the
// output file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>  // before jpeglib.h, which needs FILE

#include <jpeglib.h>

#include "convert.h"
#include "decompressor.h"

// The rows a decode writes: the region, and the samples of each pixel.
struct strip_region {
  JDIMENSION x, y, width, height;
  int components;
};

// The JPEG file being decoded, and the descriptor its image goes to.
struct strip_source {
  const unsigned char *data;
  std::size_t size;
  int fd;
};

// Decodes one strip of `source`: `strip`'s crop is its rows, which go to
// the descriptor from `offset` on, rows only. A plain function, so that
// the caller's longjmp-guarded frame holds nothing to destroy.
using strip_decoder = convert_result (*)(const strip_source &source, const convert_options &strip, off_t offset);

// Decodes `region` of the image `cinfo` has read the header of, in as many
// strips as `options.strips` allows, into `source.fd`, header included,
// leaving the descriptor's position where a sequential write would. True
// when every strip was decoded cleanly; false, with nothing to undo, when
// the image or output is not fit for strips or any strip warned or failed
// (the whole decode then writes over it), or, with `err->write_failed` and
// errno set, on a write error.
bool decode_in_strips(j_decompress_ptr cinfo, const convert_options &options, const strip_region &region,
                      const strip_source &source, strip_decoder decode, error_state *err);
