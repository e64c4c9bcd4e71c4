/* A C11 host: encodes a small image, decodes it through the sink in RGB,
 * quantised and gray, compares each row with a plain libjpeg decode, and
 * checks that a damaged file ends through a setjmp error manager. It also
 * crops through the sink into rows of exactly the cropped size (so that a
 * sanitizer sees any overrun), and changes parameters after the
 * initialiser, which must end through the error manager. */
#include <setjmp.h>
#include <stdlib.h>
#include <string.h>

#include "tamlo_jpeg.h"

#include <jerror.h>

struct jump_error {
  struct jpeg_error_mgr pub;
  jmp_buf jump;
};

static void jump_on_error(j_common_ptr cinfo) {
  struct jump_error *err = (struct jump_error *)cinfo->err;
  longjmp(err->jump, 1);
}

static void silence(j_common_ptr cinfo, int level) {
  (void)cinfo;
  (void)level;
}

enum { W = 45, H = 11 };

static unsigned char *encode(unsigned long *size) {
  struct jpeg_compress_struct c;
  struct jpeg_error_mgr err;
  unsigned char *buffer = NULL;
  unsigned char row[W * 3];
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, &buffer, size);
  c.image_width = W;
  c.image_height = H;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < H) {
    JSAMPROW rows[1];
    for (int x = 0; x < W; ++x) {
      row[3 * x] = (unsigned char)(x * 11);
      row[3 * x + 1] = (unsigned char)(c.next_scanline * 23);
      row[3 * x + 2] = (unsigned char)((x * 7) ^ (int)c.next_scanline);
    }
    rows[0] = row;
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return buffer;
}

/* Decodes through the sink (use_sink) or plainly into `out`; returns the
 * byte count, or 0 after a fatal libjpeg error. */
static size_t decode(const unsigned char *file, unsigned long size, int mode,
                     int use_sink, unsigned char *out) {
  struct jpeg_decompress_struct d;
  struct jump_error err;
  unsigned char index_row[64 * 4];
  size_t total = 0;
  d.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jump_on_error;
  err.pub.emit_message = silence;
  jpeg_create_decompress(&d);
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&d);
    return 0;
  }
  jpeg_mem_src(&d, file, size);
  jpeg_read_header(&d, TRUE);
  if (mode == 1) {
    d.quantize_colors = TRUE;
    d.desired_number_of_colors = 12;
  } else if (mode == 2) {
    d.out_color_space = JCS_GRAYSCALE;
  } else if (mode == 3) {
    d.do_fancy_upsampling = FALSE;
  }
  {
    ppm_row_sink *sink = use_sink ? tamlo_jpeg_jinit_write_ppm(&d) : NULL;
    jpeg_start_decompress(&d);
    if (sink) sink->start_output(&d, sink);
    while (d.output_scanline < d.output_height) {
      const size_t row_bytes = (size_t)d.output_width * (size_t)d.out_color_components;
      if (sink) {
        JDIMENSION n = jpeg_read_scanlines(&d, sink->sample_rows, sink->sample_row_count);
        sink->put_pixel_rows(&d, sink, n, out + total);
      } else {
        JSAMPROW rows[1];
        rows[0] = d.quantize_colors ? index_row : out + total;
        jpeg_read_scanlines(&d, rows, 1);
        if (d.quantize_colors) {
          for (JDIMENSION x = 0; x < d.output_width; ++x)
            for (int c = 0; c < d.out_color_components; ++c)
              out[total + x * 3 + (size_t)c] = d.colormap[c][index_row[x]];
        }
      }
      total += row_bytes;
    }
    if (sink) sink->finish_output(&d, sink);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return total;
}

/* Decodes columns [x, x + width) of every row through the sink after
 * jpeg_crop_scanline, each row into a block of exactly the cropped row's
 * size, and copies the wanted columns to `out`. Returns the bytes written,
 * 0 after a fatal error. */
static size_t decode_cropped(const unsigned char *file, unsigned long size, JDIMENSION x,
                             JDIMENSION width, unsigned char *out) {
  struct jpeg_decompress_struct d;
  struct jump_error err;
  size_t total = 0;
  d.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jump_on_error;
  err.pub.emit_message = silence;
  jpeg_create_decompress(&d);
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&d);
    return 0;
  }
  jpeg_mem_src(&d, file, size);
  jpeg_read_header(&d, TRUE);
  /* Smooth chroma upsampling treats the edges of a cropped row as image
   * edges; without it the cropped pixels are exactly the full decode's. */
  d.do_fancy_upsampling = FALSE;
  {
    ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(&d);
    JDIMENSION xoffset = x, cropped = width;
    jpeg_start_decompress(&d);
    jpeg_crop_scanline(&d, &xoffset, &cropped);
    sink->start_output(&d, sink);
    while (d.output_scanline < d.output_height) {
      unsigned char *row = malloc((size_t)d.output_width * 3);
      JDIMENSION n = jpeg_read_scanlines(&d, sink->sample_rows, sink->sample_row_count);
      if (n > 0) sink->put_pixel_rows(&d, sink, n, row);
      memcpy(out + total, row + (size_t)(x - xoffset) * 3, (size_t)width * 3);
      total += (size_t)width * 3;
      free(row);
    }
    sink->finish_output(&d, sink);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return total;
}

/* Changes a parameter after the initialiser: 1 wider rows (scaling up),
 * 2 another component count, 3 quantisation switched on. Returns 1 when
 * start_output raised the fitting error through the error manager. */
static int change_after_initialiser(const unsigned char *file, unsigned long size, int change) {
  struct jpeg_decompress_struct d;
  struct jump_error err;
  int raised = 0;
  d.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jump_on_error;
  err.pub.emit_message = silence;
  jpeg_create_decompress(&d);
  if (setjmp(err.jump)) {
    static const int expected[] = {0, JERR_WIDTH_OVERFLOW, JERR_CONVERSION_NOTIMPL, JERR_MODE_CHANGE};
    raised = err.pub.msg_code == expected[change];
    jpeg_destroy_decompress(&d);
    return raised;
  }
  jpeg_mem_src(&d, file, size);
  jpeg_read_header(&d, TRUE);
  {
    ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(&d);
    if (change == 1) {
      d.scale_num = 2;
      d.scale_denom = 1;
    } else if (change == 2) {
      d.out_color_space = JCS_GRAYSCALE;
    } else {
      d.quantize_colors = TRUE;
      d.desired_number_of_colors = 16;
    }
    jpeg_start_decompress(&d);
    sink->start_output(&d, sink);
  }
  jpeg_destroy_decompress(&d);
  return 0;
}

int main(void) {
  static unsigned char expected[64 * 64 * 3], actual[64 * 64 * 3];
  unsigned long size = 0;
  unsigned char *file = encode(&size);
  int failures = 0;
  for (int mode = 0; mode < 3; ++mode) {
    const size_t n = decode(file, size, mode, 0, expected);
    const size_t m = decode(file, size, mode, 1, actual);
    if (n == 0 || n != m || memcmp(expected, actual, n) != 0) ++failures;
  }
  {
    unsigned char garbage[100];
    memset(garbage, 0x42, sizeof garbage);
    if (decode(garbage, sizeof garbage, 1, 1, actual) != 0) ++failures;
  }
  {
    /* Crops at odd offsets, against the same columns of a full decode. */
    static const JDIMENSION crops[][2] = {{0, 45}, {3, 7}, {17, 20}, {40, 5}, {9, 1}};
    static unsigned char full[64 * 64 * 3];
    const size_t n = decode(file, size, 3, 0, full);
    for (size_t i = 0; i < sizeof crops / sizeof crops[0]; ++i) {
      const JDIMENSION x = crops[i][0], width = crops[i][1];
      if (decode_cropped(file, size, x, width, actual) != (size_t)width * 3 * H) ++failures;
      for (size_t row = 0; row < H && n > 0; ++row) {
        if (memcmp(actual + row * width * 3, full + (row * W + x) * 3, (size_t)width * 3) != 0) {
          ++failures;
        }
      }
    }
  }
  for (int change = 1; change <= 3; ++change) {
    if (!change_after_initialiser(file, size, change)) ++failures;
  }
  free(file);
  return failures == 0 ? 0 : 1;
}
