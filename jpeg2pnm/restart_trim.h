// Cropping far down an image without entropy-decoding the rows above: a
// sequential JPEG whose restart intervals each cover whole rows of MCUs
// (as many cameras write them) can start at any interval, since each
// interval's entropy coding stands alone. The file is rebuilt to start at
// the interval just above the rows a crop needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct trimmed_jpeg {
  std::vector<unsigned char> data;
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
