// What an image may ask of the decoder, against the limits the user set.
#include "image_limits.h"

#include <algorithm>

namespace {

std::uint64_t round_up(std::uint64_t value, std::uint64_t step) {
  return step == 0 ? value : (value + step - 1) / step * step;
}

std::string size_of(j_decompress_ptr cinfo) {
  return std::to_string(cinfo->output_width) + "x" + std::to_string(cinfo->output_height);
}

}  // namespace

std::uint64_t least_image_data(j_decompress_ptr cinfo) {
  if (cinfo->arith_code) return 0;
  std::uint64_t blocks = 0;
  for (int c = 0; c < cinfo->num_components; ++c) {
    const jpeg_component_info &comp = cinfo->comp_info[c];
    blocks += static_cast<std::uint64_t>(comp.width_in_blocks) * comp.height_in_blocks;
  }
  return (blocks + 7) / 8;
}

std::uint64_t arithmetic_pixel_limit(std::uint64_t data_bytes) {
  constexpr std::uint64_t pixels_per_byte = 64, least = std::uint64_t{1} << 22;
  return data_bytes > least / pixels_per_byte ? data_bytes * pixels_per_byte : least;
}

std::uint64_t whole_image_memory(j_decompress_ptr cinfo) {
  std::uint64_t bytes = 0;
  // libjpeg keeps every coefficient when the image comes in several scans.
  if (cinfo->progressive_mode || cinfo->buffered_image || cinfo->comps_in_scan < cinfo->num_components) {
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

std::string limit_exceeded(j_decompress_ptr cinfo, std::uint64_t data_bytes,
                           const convert_options &options) {
  const std::uint64_t pixels =
      static_cast<std::uint64_t>(cinfo->output_width) * cinfo->output_height;
  if (options.max_pixels != 0 && pixels > options.max_pixels) {
    return "the image is " + size_of(cinfo) + " (" + std::to_string(pixels) +
           " pixels), over the limit of " + std::to_string(options.max_pixels) +
           " pixels; --max-pixels N raises it, 0 lifts it";
  }
  const std::uint64_t stored = static_cast<std::uint64_t>(cinfo->image_width) * cinfo->image_height;
  if (cinfo->arith_code && !options.max_pixels_given && options.max_pixels != 0 &&
      stored > std::min(options.max_pixels, arithmetic_pixel_limit(data_bytes))) {
    return "the " + std::to_string(cinfo->image_width) + "x" + std::to_string(cinfo->image_height) +
           " image is arithmetic-coded in " + std::to_string(data_bytes) + " bytes, which allow " +
           std::to_string(arithmetic_pixel_limit(data_bytes)) +
           " pixels (64 a byte, at least 4194304); --max-pixels N sets the limit for every coding, 0 lifts it";
  }
  const std::uint64_t least = least_image_data(cinfo);
  if (!options.allow_truncated && data_bytes < least) {
    return "the file holds " + std::to_string(data_bytes) + " bytes of image data, but its " +
           std::to_string(cinfo->image_width) + "x" + std::to_string(cinfo->image_height) +
           " image needs at least " + std::to_string(least) +
           ": it is truncated; --allow-truncated decodes what there is";
  }
  const std::uint64_t mib = (whole_image_memory(cinfo) + (1u << 20) - 1) >> 20;
  if (options.max_memory_mib != 0 && mib > options.max_memory_mib) {
    return "the " + size_of(cinfo) + " image needs " + std::to_string(mib) +
           " MiB of working memory, over the limit of " + std::to_string(options.max_memory_mib) +
           " MiB; --max-memory MIB raises it, 0 lifts it";
  }
  return "";
}

std::uint64_t input_limit(const convert_options &options) {
  constexpr std::uint64_t most = UINT64_MAX;
  if (options.max_input_mib != derived_input_limit) {
    return options.max_input_mib > (most >> 20) ? most : options.max_input_mib << 20;
  }
  return options.max_pixels > most / 8 ? most : options.max_pixels * 8;
}
