// What an image may ask of the decoder before any pixel is decoded: its
// size, its working memory and its number of scans, against the limits the
// user set (0: no limit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <jpeglib.h>

#include "options.h"

// The scans (start-of-scan markers) of a JPEG file, found by walking its
// marker segments and skipping entropy-coded data; stops at the end of
// the image or of the data.
std::uint64_t count_scans(const unsigned char *data, std::size_t size);

// Bytes of the whole-image buffers libjpeg will allocate: the coefficient
// arrays of a progressive or buffered decode, and the image buffer of
// two-pass quantisation. Call after jpeg_calc_output_dimensions.
std::uint64_t whole_image_memory(j_decompress_ptr cinfo);

// The first limit the image passes, as one line that names the image's
// size, the limit and the option; empty when it is within all of them.
std::string limit_exceeded(j_decompress_ptr cinfo, std::uint64_t scans,
                           const convert_options &options);
