#include "strips.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "block_writer.h"

namespace {

// Whether the strips of an image can be written where they belong: a
// regular file at its start, not opened for appending (where pwrite would
// append).
bool positioned_output(int fd) {
  struct stat st {};
  const int flags = fcntl(fd, F_GETFL);
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flags >= 0 && (flags & O_APPEND) == 0 &&
         lseek(fd, 0, SEEK_CUR) == 0;
}

// Whether every strip can start where its rows are: one scan (a file in
// several holds every coefficient of the image, which each strip would
// read and buffer whole) whose restart intervals are whole MCU rows, so
// that a strip's file is rebuilt from the interval above it.
bool intervals_start_rows(j_decompress_ptr cinfo) {
  if (cinfo->progressive_mode || cinfo->arith_code || jpeg_has_multiple_scans(cinfo) ||
      cinfo->restart_interval == 0) {
    return false;
  }
  const unsigned mcu_width =
      cinfo->num_components == 1 ? DCTSIZE : static_cast<unsigned>(cinfo->max_h_samp_factor) * DCTSIZE;
  const unsigned mcus_per_row = (cinfo->image_width + mcu_width - 1) / mcu_width;
  return mcus_per_row > 0 && cinfo->restart_interval % mcus_per_row == 0;
}

// Joins the strips' threads on every way out, so that none is left running.
struct strip_threads {
  std::vector<std::thread> running;
  ~strip_threads() {
    for (std::thread &t : running) t.join();
  }
};

}  // namespace

bool decode_in_strips(j_decompress_ptr cinfo, const convert_options &options, const strip_region &region,
                      const strip_source &source, strip_decoder decode, error_state *err) {
  const int fd = source.fd;
  if (options.strips < 2 || options.colors > 0 || !intervals_start_rows(cinfo) || !positioned_output(fd)) {
    return false;
  }
  // Strips start on MCU rows, and are at least two of them high.
  const JDIMENSION mcu_rows = static_cast<JDIMENSION>(cinfo->max_v_samp_factor * cinfo->min_DCT_scaled_size);
  const unsigned strips = std::min<unsigned>(options.strips, region.height / (2 * mcu_rows));
  if (strips < 2) return false;
  const std::string header = pnm_header(region.components, region.width, region.height);
  const auto header_length = static_cast<off_t>(header.size());
  const off_t row_bytes = static_cast<off_t>(region.width) * region.components;
  std::vector<JDIMENSION> starts{region.y};
  for (unsigned k = 1; k < strips; ++k) {
    const JDIMENSION row = region.y + static_cast<JDIMENSION>(std::uint64_t{region.height} * k / strips);
    starts.push_back(std::max(starts.back() + mcu_rows, row / mcu_rows * mcu_rows));
  }
  starts.push_back(region.y + region.height);
  std::vector<convert_result> results(strips);
  const auto decode_strip = [&](unsigned k) {
    convert_options o = options;
    o.strips = 1;
    o.write_behind = false;
    o.icc_path.clear();
    o.crop_x = region.x;
    o.crop_width = region.width;
    o.crop_y = starts[k];
    o.crop_height = starts[k + 1] - starts[k];
    // Memory or threads that run out fail the strip, never the process:
    // the whole decode then runs on one thread.
    try {
      results[k] = decode(source, o, header_length + static_cast<off_t>(starts[k] - region.y) * row_bytes);
    } catch (const std::bad_alloc &) {
      results[k].ok = false;
    } catch (const std::system_error &) {
      results[k].ok = false;
    }
  };
  // A strip whose thread cannot start is decoded on this thread.
  strip_threads threads;
  threads.running.reserve(strips);
  std::vector<unsigned> here{0};
  here.reserve(strips);
  for (unsigned k = 1; k < strips; ++k) {
    try {
      threads.running.emplace_back(decode_strip, k);
    } catch (const std::system_error &) {
      here.push_back(k);
    }
  }
  for (const unsigned k : here) decode_strip(k);
  for (std::thread &t : threads.running) t.join();
  threads.running.clear();
  for (const convert_result &r : results) {
    if (r.write_failed) {
      err->write_failed = true;
      errno = r.write_errno;
      return false;
    }
    if (!r.ok || r.warnings > 0) return false;
  }
  if (const int error = write_fully(fd, reinterpret_cast<const unsigned char *>(header.data()), header.size(), 0);
      error != 0) {
    err->write_failed = true;
    errno = error;
    return false;
  }
  // The descriptor's position stands where a sequential write leaves it.
  return lseek(fd, header_length + static_cast<off_t>(region.height) * row_bytes, SEEK_SET) >= 0;
}
