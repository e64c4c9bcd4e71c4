// A plain libjpeg decode, the reference the sink and jpeg2pnm are
// compared with.
#include "reference_decode.h"

#include <algorithm>

#include "jpeg_fixtures.h"

namespace {

void count_warning(j_common_ptr cinfo, int level) {
  if (level < 0) ++*static_cast<int *>(cinfo->client_data);
}

}  // namespace

memory_decompressor::memory_decompressor(const std::vector<unsigned char> &file) {
  use_throwing_errors(err);
  err.emit_message = count_warning;
  cinfo.err = &err;
  cinfo.client_data = &warnings;
  jpeg_create_decompress(&cinfo);
  try {
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
  } catch (...) {
    jpeg_destroy_decompress(&cinfo);
    throw;
  }
}

memory_decompressor::~memory_decompressor() { jpeg_destroy_decompress(&cinfo); }

decoded_image memory_decompressor::started_image() const {
  decoded_image image;
  image.width = cinfo.output_width;
  image.height = cinfo.output_height;
  image.components = cinfo.out_color_components;
  image.pixels.resize(image.row_size() * image.height);
  return image;
}

void apply_mode(jpeg_decompress_struct &cinfo, const decode_mode &mode) {
  if (mode.out_space != JCS_UNKNOWN) cinfo.out_color_space = mode.out_space;
  if (mode.colors > 0) {
    cinfo.quantize_colors = TRUE;
    cinfo.desired_number_of_colors = mode.colors;
    cinfo.two_pass_quantize = mode.two_pass ? TRUE : FALSE;
    cinfo.dither_mode = mode.dither;
  }
  cinfo.scale_num = mode.scale_num;
  cinfo.scale_denom = 8;
  cinfo.dct_method = mode.dct;
  cinfo.do_fancy_upsampling = mode.fancy_upsampling ? TRUE : FALSE;
}

decoded_image decode_plain(const std::vector<unsigned char> &file,
                           const decode_mode &mode) {
  memory_decompressor d(file);
  apply_mode(d.cinfo, mode);
  jpeg_start_decompress(&d.cinfo);
  decoded_image image = d.started_image();
  std::vector<unsigned char> row(static_cast<std::size_t>(image.width) *
                                 static_cast<std::size_t>(d.cinfo.output_components));
  for (JDIMENSION y = 0; y < image.height; ++y) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&d.cinfo, rows, 1);
    unsigned char *out = image.pixels.data() + y * image.row_size();
    if (!d.cinfo.quantize_colors) {
      std::copy(row.begin(), row.end(), out);
      continue;
    }
    for (JDIMENSION x = 0; x < image.width; ++x) {
      for (int c = 0; c < image.components; ++c) *out++ = d.cinfo.colormap[c][row[x]];
    }
  }
  jpeg_finish_decompress(&d.cinfo);
  image.warnings = d.warnings;
  return image;
}
