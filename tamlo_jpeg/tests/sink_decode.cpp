#include "sink_decode.h"

#include "tamlo_jpeg.h"

decoded_image decode_with_sink(const std::vector<unsigned char> &file,
                               const decode_mode &mode) {
  memory_decompressor d(file);
  apply_mode(d.cinfo, mode);
  ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(&d.cinfo);
  jpeg_start_decompress(&d.cinfo);
  decoded_image image = d.started_image();
  (*sink->start_output)(&d.cinfo, sink);
  for (JDIMENSION y = 0; y < image.height; ++y) {
    const JDIMENSION rows = jpeg_read_scanlines(&d.cinfo, sink->sample_rows,
                                                sink->sample_row_count);
    (*sink->put_pixel_rows)(&d.cinfo, sink, rows, image.pixels.data() + y * image.row_size());
  }
  (*sink->finish_output)(&d.cinfo, sink);
  jpeg_finish_decompress(&d.cinfo);
  image.warnings = d.warnings;
  return image;
}
