// Cropping far down an image without entropy-decoding the rows above: a
// sequential JPEG whose restart intervals each cover whole rows of MCUs
// (as many cameras write them) can start at any interval, since each
// interval's entropy coding stands alone. The file is rebuilt to start at
// the interval just above the rows a crop needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>  // before jpeglib.h, which needs FILE

#include <jpeglib.h>

// A file rebuilt to start at a restart interval, read from the file as
// stored without a copy of it (read_trimmed): its segments up to the scan
// with the frame's height rewritten, then the entropy-coded data from the
// interval on, with the restart markers numbered from there.
struct trimmed_jpeg {
  const unsigned char *stored = nullptr;  // the file as stored, which must outlive this
  std::size_t size = 0;                   // bytes of the rebuilt file
  std::size_t height_at = 0;              // offset of the frame's height field
  unsigned char new_height[2] = {};       // what stands there instead
  std::size_t data_at = 0;                // where the scan's data starts, in both files
  std::size_t interval_at = 0;            // offset in the stored file of the first kept interval
  unsigned renumber = 0;                  // taken off each restart marker's number, modulo 8
  unsigned width = 0, height = 0;  // of the whole image, unscaled
  unsigned skipped_rows = 0;       // image rows (unscaled) left out at the top
};

// What libjpeg itself read of the file's frame, which the rebuild must
// agree with: on any difference the file is left whole.
struct frame_as_read {
  unsigned width = 0, height = 0, components = 0;
  unsigned max_h = 0, max_v = 0;  // the largest sampling factors
  unsigned restart_interval = 0;  // in force at the first scan
};

// Rebuilds `data` to start at the restart interval that holds the MCU row
// above `first_row` (unscaled image rows), when the file is a
// single-scan baseline or extended sequential Huffman JPEG whose restart
// intervals are whole MCU rows. Returns false, and leaves `out` alone,
// when the file is not such a file, its segments read otherwise than
// `read`, or nothing would be left out.
bool trim_rows_above(const unsigned char *data, std::size_t size, unsigned first_row,
                     const frame_as_read &read, trimmed_jpeg &out);

// Copies up to `count` bytes of the rebuilt file from `offset` on into
// `out`; the number copied, 0 past its end.
std::size_t read_trimmed(const trimmed_jpeg &file, std::size_t offset, unsigned char *out, std::size_t count);

// libjpeg's source manager for a rebuilt file, reading it a chunk at a
// time, so that strips on many threads share the one stored file.
struct trimmed_source {
  jpeg_source_mgr pub;
  const trimmed_jpeg *file;
  std::size_t next;  // offset of the first byte not yet handed to libjpeg
  unsigned char chunk[16384];
};

// Makes `source` the source of `cinfo`, at the start of `file`; both must
// outlive the decode.
void read_trimmed_jpeg(j_decompress_ptr cinfo, trimmed_source &source, const trimmed_jpeg &file);

// Bytes of the rebuilt file that libjpeg has not read yet.
std::uint64_t trimmed_bytes_left(const trimmed_source &source);
