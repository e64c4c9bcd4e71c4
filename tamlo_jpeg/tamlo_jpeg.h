/*
 * tamlo_jpeg: an output sink for libjpeg decompressors that delivers every
 * decoded scanline as one row of 8-bit samples in the caller's memory, in
 * the pixel layout of binary PGM (gray) and PPM (RGB) rows. When libjpeg
 * quantises colours, palette indexes are mapped back through the colormap.
 *
 * Per image:
 *   1. jpeg_read_header, set the output parameters, then
 *      sink = tamlo_jpeg_jinit_write_ppm(&cinfo);
 *   2. jpeg_start_decompress, then sink->start_output(&cinfo, sink);
 *   3. for each scanline:
 *        n = jpeg_read_scanlines(&cinfo, sink->sample_rows, sink->sample_row_count);
 *        if (n > 0)   (0: a suspending data source has no data yet)
 *          sink->put_pixel_rows(&cinfo, sink, n, row);   (row: output_width *
 *                                                         out_color_components bytes)
 *   4. sink->finish_output(&cinfo, sink), then jpeg_finish_decompress or
 *      jpeg_abort_decompress.
 * The sink lives in the decompressor's image pool and is released with it.
 *
 * Parameters may still change between the initialiser and
 * jpeg_start_decompress, as long as the rows still fit: start_output
 * raises an error through cinfo's error manager when the output row has
 * grown wider than the sink's, the component count has changed, or
 * quantisation was switched on or off. A host may narrow the rows after
 * jpeg_start_decompress (jpeg_crop_scanline): each row delivered is
 * output_width * out_color_components bytes as they stand at that call.
 */
#ifndef TAMLO_JPEG_H
#define TAMLO_JPEG_H

#include <stdio.h>
#include <jpeglib.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ppm_row_sink ppm_row_sink;

struct ppm_row_sink {
  /* Called once after jpeg_start_decompress (and after any
   * jpeg_crop_scanline); checks that the output rows still fit the sink. */
  void (*start_output)(j_decompress_ptr cinfo, ppm_row_sink *sink);
  /* Turns the scanline decoded into sample_rows into one finished row of
   * output_width * out_color_components bytes (as they stand now) at dest. */
  void (*put_pixel_rows)(j_decompress_ptr cinfo, ppm_row_sink *sink,
                         JDIMENSION rows_supplied, unsigned char *dest);
  /* Called once after the last scanline; does nothing. */
  void (*finish_output)(j_decompress_ptr cinfo, ppm_row_sink *sink);
  /* The host's own; the sink never sets or reads it. */
  void *client_slot;
  /* The row array to hand to jpeg_read_scanlines, and its row count (1). */
  JSAMPARRAY sample_rows;
  JDIMENSION sample_row_count;
};

/* Builds the sink for one image. Call after jpeg_read_header and after
 * setting the output parameters (colour space, quantisation, scaling), and
 * before jpeg_start_decompress. Errors are raised through cinfo's error
 * manager. */
ppm_row_sink *tamlo_jpeg_jinit_write_ppm(j_decompress_ptr cinfo);

#ifdef __cplusplus
}
#endif

#endif /* TAMLO_JPEG_H */
