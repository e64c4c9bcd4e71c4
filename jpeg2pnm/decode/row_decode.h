// The decode of a planned image's rows: the whole image to its output
// stream, header first, through the block writer; or one strip's rows to
// their place in the output file.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

#include "output/block_writer.h"
#include "plan/image_plan.h"

// What a decode gives back.
struct decode_result {
  bool ok = false;
  bool write_failed = false;  // writing to the output failed: `message` is about it
  int warnings = 0;           // corrupt-data warnings from libjpeg
  std::string message;        // why it failed, or the first warning
};

// Where the rows go.
struct row_destination {
  enum destination_kind {
    whole_image,  // `stream`, header first, written by a thread of its own when the options allow
    strip_rows,   // the descriptor `fd` from `offset` on, rows only
  } kind;
  std::FILE *stream = nullptr;
  int fd = -1;
  off_t offset = 0;
  block_ring *ring = nullptr;  // the blocks the rows are written in, kept by the caller
};

// Decodes the plan's rows of `in` to `to`. On failure the destination
// may hold part of the image.
decode_result decode_rows(const jpeg_data &in, const image_plan &plan, const row_destination &to);
