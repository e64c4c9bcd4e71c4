#include "restart_trim.h"

#include <cstring>

#include "marker_walk.h"

namespace {

unsigned be16(const unsigned char *p) { return static_cast<unsigned>(p[0]) << 8 | p[1]; }

// What the marker segments before the scan say.
struct frame {
  std::size_t height_at = 0;  // offset of the frame header's height field
  unsigned width = 0, height = 0;
  unsigned components = 0;
  unsigned max_h = 0, max_v = 0;
  unsigned restart_interval = 0;
  std::size_t data_at = 0;    // offset of the first entropy-coded byte
  unsigned scan_components = 0;
};

bool read_frame(const unsigned char *data, std::size_t size, frame &f) {
  marker_walk walk = start_marker_walk(data, size);
  bool sequential = false;
  for (jpeg_marker m; next_marker(walk, m);) {
    const unsigned char *segment = data + m.payload;
    if (m.code == 0xC0 || m.code == 0xC1) {
      // Baseline or extended sequential, Huffman-coded.
      if (sequential || m.length < 6) return false;
      f.height_at = m.payload + 1;
      f.height = be16(segment + 1);
      f.width = be16(segment + 3);
      f.components = segment[5];
      if (m.length < 6 + 3 * f.components || f.components == 0) return false;
      for (unsigned c = 0; c < f.components; ++c) {
        const unsigned h = segment[6 + 3 * c + 1] >> 4, v = segment[6 + 3 * c + 1] & 15;
        if (h == 0 || v == 0) return false;
        if (h > f.max_h) f.max_h = h;
        if (v > f.max_v) f.max_v = v;
      }
      sequential = true;
    } else if (m.code == 0xC2 || m.code == 0xC9 || m.code == 0xCA) {
      return false;  // progressive or arithmetic-coded
    } else if (m.code == 0xDD) {
      if (m.length != 2) return false;
      f.restart_interval = be16(segment);
    } else if (m.code == 0xDA) {
      if (!sequential || m.length < 1) return false;
      f.scan_components = segment[0];
      f.data_at = m.payload + m.length;
      return true;
    } else if (m.code == 0xD9) {
      return false;
    }
  }
  return false;
}

}  // namespace

bool trim_rows_above(const unsigned char *data, std::size_t size, unsigned first_row,
                     const frame_as_read &read, trimmed_jpeg &out) {
  frame f;
  if (!read_frame(data, size, f) || f.restart_interval == 0 || f.height == 0) return false;
  if (f.width != read.width || f.height != read.height || f.components != read.components ||
      f.max_h != read.max_h || f.max_v != read.max_v || f.restart_interval != read.restart_interval) {
    return false;
  }
  // One interleaved scan of all components, or one component alone.
  if (f.scan_components != f.components) return false;
  const unsigned mcu_width = f.components == 1 ? 8 : 8 * f.max_h;
  const unsigned mcu_height = f.components == 1 ? 8 : 8 * f.max_v;
  const unsigned mcus_per_row = (f.width + mcu_width - 1) / mcu_width;
  if (mcus_per_row == 0 || f.restart_interval % mcus_per_row != 0) return false;
  const unsigned rows_per_interval = f.restart_interval / mcus_per_row;
  // The MCU row above the first one needed gives smooth upsampling the
  // same neighbours as in the whole image.
  const unsigned mcu_row = first_row / mcu_height;
  if (mcu_row < 1) return false;
  const unsigned interval = (mcu_row - 1) / rows_per_interval;
  if (interval == 0) return false;

  // The entropy-coded data of the interval: after the interval-th restart
  // marker. Stuffed bytes (FF 00) are data; any other marker ends the scan.
  std::size_t at = f.data_at;
  unsigned restarts = 0;
  while (restarts < interval) {
    const void *next = at < size ? std::memchr(data + at, 0xFF, size - at) : nullptr;
    if (next == nullptr) return false;
    at = static_cast<std::size_t>(static_cast<const unsigned char *>(next) - data);
    if (at + 1 >= size) return false;
    const unsigned char marker = data[at + 1];
    if (marker == 0x00 || marker == 0xFF) {
      at += marker == 0x00 ? 2 : 1;
      continue;
    }
    if (!is_restart_marker(marker) || (marker & 7) != (restarts & 7)) return false;
    ++restarts;
    at += 2;
  }

  out.width = f.width;
  out.height = f.height;
  out.skipped_rows = interval * rows_per_interval * mcu_height;
  if (out.skipped_rows >= f.height) return false;
  out.data.assign(data, data + f.data_at);
  const unsigned height = f.height - out.skipped_rows;
  out.data[f.height_at] = static_cast<unsigned char>(height >> 8);
  out.data[f.height_at + 1] = static_cast<unsigned char>(height);
  // The rest, with the restart markers numbered from this interval on.
  const std::size_t start = out.data.size();
  out.data.insert(out.data.end(), data + at, data + size);
  unsigned char *const rest = out.data.data() + start;
  const std::size_t length = size - at;
  for (std::size_t i = 0; i + 1 < length;) {
    void *next = std::memchr(rest + i, 0xFF, length - 1 - i);
    if (next == nullptr) break;
    i = static_cast<std::size_t>(static_cast<unsigned char *>(next) - rest) + 1;
    if (is_restart_marker(rest[i])) {
      rest[i] = static_cast<unsigned char>(0xD0 | ((rest[i] - 0xD0 + 8 - (interval & 7)) & 7));
    }
  }
  return true;
}
