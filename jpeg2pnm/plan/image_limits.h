// What an image may ask of the decoder before any pixel is decoded: its
// size, its working memory and the data it must hold, against the limits
// the user set (0: no limit). Its scans are counted as libjpeg reads them
// (see convert.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <jpeglib.h>

#include "options.h"

// The fewest bytes of entropy-coded data that can hold the whole image:
// in Huffman coding every block of every component takes at least one bit
// in the scan that codes its DC coefficient. 0 for arithmetic coding,
// which has no such floor. Call after jpeg_read_header.
std::uint64_t least_image_data(j_decompress_ptr cinfo);

// The most pixels an arithmetic-coded image as stored may have when
// --max-pixels is at its default: 64 for each byte of its entropy-coded
// data, and at least 4194304 (2048x2048). Arithmetic coding can code a
// flat image in almost no data, so without this a file of a few hundred
// bytes could claim the whole pixel limit in up to --max-scans scans and
// cost minutes and gigabytes; real photographs take far more than a bit
// for 64 pixels.
std::uint64_t arithmetic_pixel_limit(std::uint64_t data_bytes);

// Bytes of the whole-image buffers libjpeg will allocate: the coefficient
// arrays of a progressive, multiple-scan sequential or buffered decode,
// and the image buffer of two-pass quantisation. Call after
// jpeg_calc_output_dimensions.
std::uint64_t whole_image_memory(j_decompress_ptr cinfo);

// The first limit the image passes, as one line that names the image's
// size, the limit and the option; empty when it is within all of them.
// `data_bytes` is what the file holds from the first scan's data on.
std::string limit_exceeded(j_decompress_ptr cinfo, std::uint64_t data_bytes,
                           const convert_options &options);

// The most bytes of one input that are read: --max-input, or by default 8
// bytes for each pixel --max-pixels allows (a photograph at the highest
// quality takes under 4), 0 for no limit.
std::uint64_t input_limit(const convert_options &options);
