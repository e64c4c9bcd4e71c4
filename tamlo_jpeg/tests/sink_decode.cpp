#include "sink_decode.h"

#include "jpeg_fixtures.h"
#include "tamlo_jpeg.h"

namespace {

void count_warning(j_common_ptr cinfo, int level) {
  if (level < 0) ++*static_cast<int *>(cinfo->client_data);
}

// Owns a decompressor reading from memory; destroyed on every path.
struct decompressor {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  int warnings = 0;

  explicit decompressor(const std::vector<unsigned char> &file) {
    use_throwing_errors(err);
    err.emit_message = count_warning;
    cinfo.err = &err;
    cinfo.client_data = &warnings;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
  }
  ~decompressor() { jpeg_destroy_decompress(&cinfo); }
  decompressor(const decompressor &) = delete;
  decompressor &operator=(const decompressor &) = delete;

  decoded_image started_image() {
    decoded_image image;
    image.width = cinfo.output_width;
    image.height = cinfo.output_height;
    image.components = cinfo.out_color_components;
    image.pixels.resize(static_cast<std::size_t>(image.width) *
                        static_cast<std::size_t>(image.components) * image.height);
    return image;
  }
};

std::size_t row_size(const decoded_image &image) {
  return static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.components);
}

}  // namespace

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

decoded_image decode_with_sink(const std::vector<unsigned char> &file,
                               const decode_mode &mode) {
  decompressor d(file);
  apply_mode(d.cinfo, mode);
  ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(&d.cinfo);
  jpeg_start_decompress(&d.cinfo);
  decoded_image image = d.started_image();
  (*sink->start_output)(&d.cinfo, sink);
  for (JDIMENSION y = 0; y < image.height; ++y) {
    const JDIMENSION rows = jpeg_read_scanlines(&d.cinfo, sink->sample_rows,
                                                sink->sample_row_count);
    (*sink->put_pixel_rows)(&d.cinfo, sink, rows, image.pixels.data() + y * row_size(image));
  }
  (*sink->finish_output)(&d.cinfo, sink);
  jpeg_finish_decompress(&d.cinfo);
  image.warnings = d.warnings;
  return image;
}

decoded_image decode_plain(const std::vector<unsigned char> &file,
                           const decode_mode &mode) {
  decompressor d(file);
  apply_mode(d.cinfo, mode);
  jpeg_start_decompress(&d.cinfo);
  decoded_image image = d.started_image();
  std::vector<unsigned char> row(static_cast<std::size_t>(image.width) *
                                 static_cast<std::size_t>(d.cinfo.output_components));
  for (JDIMENSION y = 0; y < image.height; ++y) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&d.cinfo, rows, 1);
    unsigned char *out = image.pixels.data() + y * row_size(image);
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
