/* Uses an installed tamlo_jpeg: encodes a small image with libjpeg, decodes
 * it through the row sink and checks one known pixel. Prints "ok". */
#include <stdio.h>
#include <stdlib.h>

#include <tamlo_jpeg.h>

int main(void) {
  enum { W = 16, H = 8 };
  struct jpeg_compress_struct c;
  struct jpeg_decompress_struct d;
  struct jpeg_error_mgr cerr, derr;
  unsigned char *file = NULL, pixels[W * 3], row[W * 3];
  unsigned long size = 0;
  int x;

  c.err = jpeg_std_error(&cerr);
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, &file, &size);
  c.image_width = W;
  c.image_height = H;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 100, TRUE);
  jpeg_start_compress(&c, TRUE);
  for (x = 0; x < W * 3; ++x) pixels[x] = (unsigned char)(x % 3 == 0 ? 200 : 40);
  while (c.next_scanline < H) {
    JSAMPROW rows[1] = {pixels};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);

  d.err = jpeg_std_error(&derr);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file, size);
  jpeg_read_header(&d, TRUE);
  {
    ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(&d);
    jpeg_start_decompress(&d);
    sink->start_output(&d, sink);
    while (d.output_scanline < d.output_height) {
      JDIMENSION n = jpeg_read_scanlines(&d, sink->sample_rows, sink->sample_row_count);
      sink->put_pixel_rows(&d, sink, n, row);
    }
    sink->finish_output(&d, sink);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  free(file);
  if (abs(row[0] - 200) > 4 || abs(row[1] - 40) > 4) {
    fprintf(stderr, "unexpected pixel %d %d %d\n", row[0], row[1], row[2]);
    return 1;
  }
  puts("ok");
  return 0;
}
