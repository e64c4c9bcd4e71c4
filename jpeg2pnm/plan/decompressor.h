// A libjpeg decompressor as jpeg2pnm runs it: fatal errors jump back to
// the caller with the message kept, warnings are counted (the first kept,
// and under --strict fatal), and the limits on working memory and on scans
// are held by libjpeg's own memory manager and progress monitor.
#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "options.h"

// libjpeg's error manager, extended with the jump back to the decode and
// a record of what went wrong.
struct error_state {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool strict;
  int warnings;
  bool write_failed;
  unsigned long long max_memory_mib;
  char image_size[32];  // the image as stored, at the output scale: "1000x750"
  char message[JMSG_LENGTH_MAX + 300];
  char first_warning[JMSG_LENGTH_MAX];
};

// Counts scans as libjpeg reaches them, against --max-scans.
struct scan_watch {
  jpeg_progress_mgr pub;
  unsigned long long max_scans;
};

// Creates `cinfo` with `err` as its error manager and `watch` as its
// progress monitor, held to the options' limits. A function that calls
// libjpeg with it sets `err.jump` first (setjmp) and returns false when
// it lands there. Memory that runs out as it is created throws
// std::bad_alloc.
void start_decompressor(jpeg_decompress_struct &cinfo, error_state &err, scan_watch &watch,
                        const convert_options &options);

// Destroys a decompressor on every way out of a scope, an exception for
// memory that ran out included; jpeg_destroy_decompress clears `mem`, so
// one destroyed already is left alone.
struct decompressor_guard {
  jpeg_decompress_struct &cinfo;
  ~decompressor_guard() {
    if (cinfo.mem != nullptr) jpeg_destroy_decompress(&cinfo);
  }
};
