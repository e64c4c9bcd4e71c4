/* The floor jpeg2pnm is measured against: the plainest libjpeg decode
 * there is, in C, as libjpeg's manual shows it. The file is read through
 * jpeg_stdio_src's own small buffer, every row is decoded into one row
 * buffer, and nothing is written.
 *
 *   bare_decode FILE */
#include <stdio.h>
#include <stdlib.h>

#include <jpeglib.h>

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: bare_decode FILE\n");
    return 2;
  }
  FILE *in = fopen(argv[1], "rb");
  if (in == NULL) {
    perror(argv[1]);
    return 1;
  }
  struct jpeg_decompress_struct cinfo;
  struct jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, in);
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  JSAMPROW row = malloc((size_t)cinfo.output_width * (size_t)cinfo.output_components);
  if (row == NULL) return 1;
  while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, &row, 1);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  free(row);
  fclose(in);
  return 0;
}
