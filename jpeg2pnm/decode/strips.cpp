// Strips: the image's rows cut into bands, each planned and decoded as a
// crop on a thread of its own.
#include "strips.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "diagnostics.h"
#include "output/block_writer.h"
#include "output/pnm_format.h"

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

// Joins the strips' threads on every way out, so that none is left running.
struct strip_threads {
  std::vector<std::thread> running;
  ~strip_threads() {
    for (std::thread &t : running) t.join();
  }
};

}  // namespace

bool decode_in_strips(const jpeg_data &in, const image_plan &plan, int fd, decode_result &result) {
  const convert_options &options = plan.options;
  if (options.strips < 2 || !positioned_output(fd)) return false;
  // Strips start on MCU rows, and are at least two of them high.
  const JDIMENSION mcu_rows = plan.mcu_rows;
  const stored_region &region = plan.region;
  const unsigned strips = std::min<unsigned>(options.strips, region.height / (2 * mcu_rows));
  if (strips < 2) return false;
  const std::string header = pnm_header(plan.components, region.width, region.height);
  const auto header_length = static_cast<off_t>(header.size());
  const off_t row_bytes = static_cast<off_t>(region.width) * plan.components;
  std::vector<JDIMENSION> starts{region.y};
  for (unsigned k = 1; k < strips; ++k) {
    const JDIMENSION row = region.y + static_cast<JDIMENSION>(std::uint64_t{region.height} * k / strips);
    starts.push_back(std::max(starts.back() + mcu_rows, row / mcu_rows * mcu_rows));
  }
  starts.push_back(region.y + region.height);
  std::vector<decode_result> results(strips);
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
      const image_plan strip = plan_image(in, o);
      if (!strip.ok) return;
      const off_t offset = header_length + static_cast<off_t>(starts[k] - region.y) * row_bytes;
      block_ring ring;
      results[k] = decode_rows(in, strip, {row_destination::strip_rows, nullptr, fd, offset, &ring});
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
  for (const decode_result &r : results) {
    if (r.write_failed) {
      result = r;
      return true;
    }
    if (!r.ok || r.warnings > 0) return false;
  }
  if (const int error = write_fully(fd, reinterpret_cast<const unsigned char *>(header.data()), header.size(), 0);
      error != 0) {
    result.write_failed = true;
    result.message = write_error_text(error);
    return true;
  }
  // The descriptor's position stands where a sequential write leaves it.
  if (lseek(fd, header_length + static_cast<off_t>(region.height) * row_bytes, SEEK_SET) < 0) return false;
  result.ok = true;
  return true;
}
