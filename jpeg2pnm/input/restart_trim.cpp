// A JPEG file rebuilt to start at a restart interval, read through a
// libjpeg source of its own.
#include "restart_trim.h"

#include <algorithm>
#include <cstring>

#include <jerror.h>

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

  const unsigned skipped_rows = interval * rows_per_interval * mcu_height;
  if (skipped_rows >= f.height) return false;
  out.stored = data;
  out.width = f.width;
  out.height = f.height;
  out.skipped_rows = skipped_rows;
  const unsigned height = f.height - skipped_rows;
  out.height_at = f.height_at;
  out.new_height[0] = static_cast<unsigned char>(height >> 8);
  out.new_height[1] = static_cast<unsigned char>(height);
  out.data_at = f.data_at;
  out.interval_at = at;
  out.size = f.data_at + (size - at);
  out.renumber = interval & 7;
  return true;
}

std::size_t read_trimmed(const trimmed_jpeg &file, std::size_t offset, unsigned char *out, std::size_t count) {
  std::size_t copied = 0;
  while (copied < count && offset < file.size) {
    unsigned char *const to = out + copied;
    const std::size_t wanted = count - copied;
    std::size_t n = 0;
    if (offset < file.height_at) {
      n = std::min(wanted, file.height_at - offset);
      std::memcpy(to, file.stored + offset, n);
    } else if (offset < file.height_at + 2) {
      n = 1;
      *to = file.new_height[offset - file.height_at];
    } else if (offset < file.data_at) {
      n = std::min(wanted, file.data_at - offset);
      std::memcpy(to, file.stored + offset, n);
    } else {
      // The data from the interval on; a byte after 0xFF that names a
      // restart marker is numbered from this interval (stuffed bytes,
      // FF 00, and fill bytes are left as they are).
      const std::size_t from = file.interval_at + (offset - file.data_at);
      n = std::min(wanted, file.size - offset);
      std::memcpy(to, file.stored + from, n);
      for (std::size_t i = 0; i < n && file.renumber != 0; ++i) {
        const std::size_t at = from + i;
        if (at > file.interval_at && file.stored[at - 1] == 0xFF && is_restart_marker(to[i])) {
          to[i] = static_cast<unsigned char>(0xD0 | ((to[i] - 0xD0 + 8 - file.renumber) & 7));
        }
      }
    }
    copied += n;
    offset += n;
  }
  return copied;
}

namespace {

trimmed_source &source_of(j_decompress_ptr cinfo) { return *reinterpret_cast<trimmed_source *>(cinfo->src); }

void start_reading(j_decompress_ptr) {}

// The next chunk; past the end, as jpeg_mem_src does, a warning and an
// end-of-image marker, so that a file cut short decodes as it would whole.
boolean fill_chunk(j_decompress_ptr cinfo) {
  static const JOCTET end_of_image[] = {0xFF, JPEG_EOI};
  trimmed_source &s = source_of(cinfo);
  const std::size_t n = read_trimmed(*s.file, s.next, s.chunk, sizeof s.chunk);
  if (n == 0) {
    WARNMS(cinfo, JWRN_JPEG_EOF);
    s.pub.next_input_byte = end_of_image;
    s.pub.bytes_in_buffer = sizeof end_of_image;
    return TRUE;
  }
  s.next += n;
  s.pub.next_input_byte = s.chunk;
  s.pub.bytes_in_buffer = n;
  return TRUE;
}

void skip_bytes(j_decompress_ptr cinfo, long count) {
  trimmed_source &s = source_of(cinfo);
  if (count <= 0) return;
  auto left = static_cast<std::size_t>(count);
  while (left > s.pub.bytes_in_buffer) {
    left -= s.pub.bytes_in_buffer;
    fill_chunk(cinfo);
  }
  s.pub.next_input_byte += left;
  s.pub.bytes_in_buffer -= left;
}

void stop_reading(j_decompress_ptr) {}

}  // namespace

void read_trimmed_jpeg(j_decompress_ptr cinfo, trimmed_source &source, const trimmed_jpeg &file) {
  source.file = &file;
  source.next = 0;
  source.pub.init_source = start_reading;
  source.pub.fill_input_buffer = fill_chunk;
  source.pub.skip_input_data = skip_bytes;
  source.pub.resync_to_restart = jpeg_resync_to_restart;
  source.pub.term_source = stop_reading;
  source.pub.next_input_byte = nullptr;
  source.pub.bytes_in_buffer = 0;
  cinfo->src = &source.pub;
}

std::uint64_t trimmed_bytes_left(const trimmed_source &source) {
  return source.pub.bytes_in_buffer + (source.file->size - source.next);
}
