#include "image_limits.h"

#include <cstring>

namespace {

constexpr unsigned char marker_prefix = 0xFF;
constexpr unsigned char start_of_image = 0xD8;
constexpr unsigned char end_of_image = 0xD9;
constexpr unsigned char start_of_scan = 0xDA;

bool has_no_length(unsigned char marker) {
  return marker == start_of_image || marker == end_of_image || marker == 0x01 ||
         (marker >= 0xD0 && marker <= 0xD7);  // TEM and RST0..7
}

std::uint64_t round_up(std::uint64_t value, std::uint64_t step) {
  return step == 0 ? value : (value + step - 1) / step * step;
}

std::string size_of(j_decompress_ptr cinfo) {
  return std::to_string(cinfo->output_width) + "x" + std::to_string(cinfo->output_height);
}

}  // namespace

std::uint64_t count_scans(const unsigned char *data, std::size_t size) {
  std::uint64_t scans = 0;
  std::size_t at = 0;
  bool in_entropy_data = false;
  while (at < size) {
    if (data[at] != marker_prefix) {
      // Only entropy-coded data (or garbage) lies between segments.
      const void *next = std::memchr(data + at, marker_prefix, size - at);
      if (next == nullptr) break;
      at = static_cast<std::size_t>(static_cast<const unsigned char *>(next) - data);
    }
    // Fill bytes: any number of 0xFF before the marker code.
    while (at < size && data[at] == marker_prefix) ++at;
    if (at == size) break;
    const unsigned char marker = data[at++];
    // In entropy-coded data, FF 00 is a stuffed byte and RSTn a restart.
    if (marker == 0x00 || (in_entropy_data && marker >= 0xD0 && marker <= 0xD7)) continue;
    in_entropy_data = false;
    if (marker == end_of_image) break;
    if (has_no_length(marker)) continue;
    if (size - at < 2) break;
    const std::size_t length = static_cast<std::size_t>(data[at]) << 8 | data[at + 1];
    if (length < 2) break;
    at += length;
    if (marker == start_of_scan) {
      ++scans;
      in_entropy_data = true;
    }
  }
  return scans;
}

std::uint64_t whole_image_memory(j_decompress_ptr cinfo) {
  std::uint64_t bytes = 0;
  if (cinfo->progressive_mode || cinfo->buffered_image) {
    for (int c = 0; c < cinfo->num_components; ++c) {
      const jpeg_component_info &comp = cinfo->comp_info[c];
      const std::uint64_t blocks =
          round_up(comp.width_in_blocks, static_cast<std::uint64_t>(comp.h_samp_factor)) *
          round_up(comp.height_in_blocks, static_cast<std::uint64_t>(comp.v_samp_factor));
      bytes += blocks * DCTSIZE2 * sizeof(JCOEF);
    }
  }
  if (cinfo->quantize_colors && cinfo->two_pass_quantize) {
    bytes += static_cast<std::uint64_t>(cinfo->output_width) * cinfo->output_height *
             static_cast<std::uint64_t>(cinfo->out_color_components);
  }
  return bytes;
}

std::string limit_exceeded(j_decompress_ptr cinfo, std::uint64_t scans,
                           const convert_options &options) {
  const std::uint64_t pixels =
      static_cast<std::uint64_t>(cinfo->output_width) * cinfo->output_height;
  if (options.max_pixels != 0 && pixels > options.max_pixels) {
    return "the image is " + size_of(cinfo) + " (" + std::to_string(pixels) +
           " pixels), over the limit of " + std::to_string(options.max_pixels) +
           " pixels; --max-pixels N raises it, 0 lifts it";
  }
  const std::uint64_t mib = (whole_image_memory(cinfo) + (1u << 20) - 1) >> 20;
  if (options.max_memory_mib != 0 && mib > options.max_memory_mib) {
    return "the " + size_of(cinfo) + " image needs " + std::to_string(mib) +
           " MiB of working memory, over the limit of " + std::to_string(options.max_memory_mib) +
           " MiB; --max-memory MIB raises it, 0 lifts it";
  }
  if (options.max_scans != 0 && scans > options.max_scans) {
    return "the " + size_of(cinfo) + " image has " + std::to_string(scans) +
           " scans, over the limit of " + std::to_string(options.max_scans) +
           "; --max-scans N raises it, 0 lifts it";
  }
  return "";
}
