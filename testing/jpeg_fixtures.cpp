// Synthetic JPEG images for tests, benchmarks and the demo.
#include "jpeg_fixtures.h"

#include <algorithm>

#include <cmath>
#include <cstdio>
#include <cstdlib>

image_recipe recipe_of(int width, int height, int components, int h_sampling, int v_sampling, bool progressive,
                       int restart_rows) {
  image_recipe r;
  r.width = width;
  r.height = height;
  r.components = components;
  r.h_sampling = h_sampling;
  r.v_sampling = v_sampling;
  r.progressive = progressive;
  r.restart_rows = restart_rows;
  return r;
}

std::vector<unsigned char> pattern_pixels(const image_recipe &recipe) {
  std::vector<unsigned char> pixels(static_cast<std::size_t>(recipe.width) *
                                    static_cast<std::size_t>(recipe.height) *
                                    static_cast<std::size_t>(recipe.components));
  std::uint32_t noise = recipe.seed * 2654435761u + 1;
  std::size_t i = 0;
  for (int y = 0; y < recipe.height; ++y) {
    for (int x = 0; x < recipe.width; ++x) {
      for (int c = 0; c < recipe.components; ++c) {
        noise = noise * 1664525u + 1013904223u;
        const double fx = x / 37.0 + c * 1.7 + recipe.seed;
        const double fy = y / 23.0 - c * 0.9;
        const double v = 128 + 70 * std::sin(fx + 0.5 * std::cos(fy)) +
                         40 * std::cos(fy * 1.3 + fx * 0.2) +
                         static_cast<double>(noise >> 28) - 8;
        pixels[i++] = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
  }
  return pixels;
}

namespace {

[[noreturn]] void throw_error(j_common_ptr cinfo) {
  jpeg_failure failure{};
  (*cinfo->err->format_message)(cinfo, failure.message);
  throw failure;
}

J_COLOR_SPACE space_of(int components) {
  return components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
}

}  // namespace

void use_throwing_errors(jpeg_error_mgr &err) {
  jpeg_std_error(&err);
  err.error_exit = throw_error;
}

std::vector<unsigned char> encode_jpeg(const image_recipe &recipe) {
  const std::vector<unsigned char> pixels =
      recipe.pixels.empty() ? pattern_pixels(recipe) : recipe.pixels;
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  use_throwing_errors(err);
  cinfo.err = &err;
  unsigned char *buffer = nullptr;
  unsigned long size = 0;
  try {
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(recipe.width);
    cinfo.image_height = static_cast<JDIMENSION>(recipe.height);
    cinfo.input_components = recipe.components;
    cinfo.in_color_space = space_of(recipe.components);
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, recipe.quality, TRUE);
    if (recipe.components == 3) {
      cinfo.comp_info[0].h_samp_factor = recipe.h_sampling;
      cinfo.comp_info[0].v_samp_factor = recipe.v_sampling;
    }
    if (recipe.components == 4) {
      if (recipe.ycck) jpeg_set_colorspace(&cinfo, JCS_YCCK);
      cinfo.write_Adobe_marker = recipe.adobe_marker || recipe.ycck ? TRUE : FALSE;
    }
    if (recipe.progressive) jpeg_simple_progression(&cinfo);
    cinfo.arith_code = recipe.arithmetic ? TRUE : FALSE;
    std::vector<jpeg_scan_info> bands;
    if (recipe.progressive_scans > 1) {
      const int components = cinfo.num_components;
      bands.push_back({});
      bands[0].comps_in_scan = components;
      for (int c = 0; c < components; ++c) bands[0].component_index[c] = c;
      const int per_component = std::min(63, (recipe.progressive_scans - 1 + components - 1) / components);
      for (int c = 0; c < components; ++c) {
        for (int b = 0; b < per_component && static_cast<int>(bands.size()) < recipe.progressive_scans; ++b) {
          jpeg_scan_info band{};
          band.comps_in_scan = 1;
          band.component_index[0] = c;
          band.Ss = 1 + b * 63 / per_component;
          band.Se = (b + 1) * 63 / per_component;
          bands.push_back(band);
        }
      }
      cinfo.scan_info = bands.data();
      cinfo.num_scans = static_cast<int>(bands.size());
    }
    jpeg_scan_info scans[MAX_COMPONENTS] = {};
    if (recipe.scan_per_component) {
      for (int c = 0; c < cinfo.num_components; ++c) {
        scans[c].comps_in_scan = 1;
        scans[c].component_index[0] = c;
        scans[c].Se = DCTSIZE2 - 1;
      }
      cinfo.scan_info = scans;
      cinfo.num_scans = cinfo.num_components;
    }
    cinfo.restart_in_rows = recipe.restart_rows;
    jpeg_start_compress(&cinfo, TRUE);
    if (!recipe.icc_profile.empty()) {
      jpeg_write_icc_profile(&cinfo, recipe.icc_profile.data(),
                             static_cast<unsigned>(recipe.icc_profile.size()));
    }
    const std::size_t stride = static_cast<std::size_t>(recipe.width) *
                               static_cast<std::size_t>(recipe.components);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + cinfo.next_scanline * stride);
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
  } catch (...) {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    throw;
  }
  jpeg_destroy_compress(&cinfo);
  std::vector<unsigned char> file(buffer, buffer + size);
  std::free(buffer);
  return file;
}
