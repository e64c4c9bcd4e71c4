// The PPM row sink: the initialiser picks one emitter per image, and the
// emitter turns each decoded scanline into a row of 8-bit samples.
//
// libjpeg's error manager may longjmp, or a C++ host's error_exit may
// throw, through these frames: nothing here has a destructor, and nothing
// here needs the C++ runtime library, so C hosts link it with -ljpeg alone.
#include "tamlo_jpeg.h"

#include <jerror.h>

#include <cstdint>
#include <cstring>

static_assert(BITS_IN_JSAMPLE == 8, "the sink emits 8-bit samples");

namespace {

// The sink as the module sees it: the host's part, then the private fields.
struct ppm_row_sink_private {
  ppm_row_sink pub;
  unsigned char *out_row;    // the finished row
  JSAMPROW row_pointer;      // one-row array over out_row (direct case)
  std::uint32_t row_bytes;   // bytes in a finished row
  std::uint32_t row_samples; // samples in a finished row
  // The geometry the rows were sized for, checked again at start_output.
  int components;            // out_color_components
  boolean quantized;         // quantize_colors
};

ppm_row_sink_private *private_of(ppm_row_sink *sink) {
  return reinterpret_cast<ppm_row_sink_private *>(sink);
}

// Colour spaces whose output rows hold one byte per component sample.
bool one_byte_per_component(J_COLOR_SPACE space) {
  switch (space) {
    case JCS_GRAYSCALE:
    case JCS_RGB:
    case JCS_YCbCr:
    case JCS_CMYK:
    case JCS_YCCK:
#ifdef JCS_EXTENSIONS
    case JCS_EXT_RGB:
    case JCS_EXT_RGBX:
    case JCS_EXT_BGR:
    case JCS_EXT_BGRX:
    case JCS_EXT_XBGR:
    case JCS_EXT_XRGB:
#endif
#ifdef JCS_ALPHA_EXTENSIONS
    case JCS_EXT_RGBA:
    case JCS_EXT_BGRA:
    case JCS_EXT_ABGR:
    case JCS_EXT_ARGB:
#endif
      return true;
    default:
      return false;
  }
}

// Parameters may change between the initialiser and jpeg_start_decompress;
// rows libjpeg would write past the sink's, or of another layout, are
// refused here, before the first scanline is read.
void tamlo_jpeg_start_output_ppm(j_decompress_ptr cinfo, ppm_row_sink *public_sink) {
  const ppm_row_sink_private *const sink = private_of(public_sink);
  if (cinfo->out_color_components != sink->components || !one_byte_per_component(cinfo->out_color_space)) {
    ERREXIT(cinfo, JERR_CONVERSION_NOTIMPL);
  }
  if ((cinfo->quantize_colors != FALSE) != (sink->quantized != FALSE)) {
    ERREXIT(cinfo, JERR_MODE_CHANGE);
  }
  const std::uint64_t samples = static_cast<std::uint64_t>(cinfo->output_width) *
                                static_cast<std::uint64_t>(cinfo->out_color_components);
  if (samples > sink->row_samples) ERREXIT(cinfo, JERR_WIDTH_OVERFLOW);
}

void tamlo_jpeg_finish_output_ppm(j_decompress_ptr, ppm_row_sink *) {}

// Bytes of the row as it stands now: a host that crops after the start of
// decompression narrows output_width. Never more than the sink's row.
std::uint32_t current_row_bytes(j_decompress_ptr cinfo, const ppm_row_sink_private *sink) {
  const std::uint64_t bytes = static_cast<std::uint64_t>(cinfo->output_width) *
                              static_cast<std::uint64_t>(sink->components);
  return bytes < sink->row_bytes ? static_cast<std::uint32_t>(bytes) : sink->row_bytes;
}

// A row wider than the sink's means the host widened the output after the
// initialiser and skipped start_output: libjpeg has already written past
// the sink's row, so the decode stops here rather than deliver it.
void deliver(j_decompress_ptr cinfo, ppm_row_sink_private *sink, unsigned char *dest) {
  if (static_cast<std::uint64_t>(cinfo->output_width) * static_cast<std::uint64_t>(sink->components) >
      sink->row_samples) {
    ERREXIT(cinfo, JERR_WIDTH_OVERFLOW);
  }
  std::memcpy(dest, sink->out_row, current_row_bytes(cinfo, sink));
}

// Direct case: libjpeg decoded straight into out_row.
void tamlo_jpeg_put_pixel_rows(j_decompress_ptr cinfo, ppm_row_sink *sink, JDIMENSION,
                               unsigned char *dest) {
  deliver(cinfo, private_of(sink), dest);
}

// Pixels of the current output width that fit the row sized at
// initialisation, `components` samples each.
JDIMENSION demapped_width(j_decompress_ptr cinfo, const ppm_row_sink_private *sink,
                          unsigned components) {
  const JDIMENSION fits = sink->row_samples / components;
  return cinfo->output_width < fits ? cinfo->output_width : fits;
}

// Quantised colour: every component of each pixel from the colormap in
// place now (it may have been replaced since the last row).
void tamlo_jpeg_put_demapped_rgb(j_decompress_ptr cinfo, ppm_row_sink *public_sink,
                                 JDIMENSION, unsigned char *dest) {
  ppm_row_sink_private *const sink = private_of(public_sink);
  const JSAMPROW indexes = sink->pub.sample_rows[0];
  const JSAMPARRAY colormap = cinfo->colormap;
  unsigned char *out = sink->out_row;
  const auto components = static_cast<unsigned>(cinfo->out_color_components);
  const JDIMENSION width = demapped_width(cinfo, sink, components);
  if (components == 3) {
    const JSAMPROW map0 = colormap[0], map1 = colormap[1], map2 = colormap[2];
    for (JDIMENSION x = 0; x < width; ++x) {
      const unsigned index = indexes[x];
      out[0] = map0[index];
      out[1] = map1[index];
      out[2] = map2[index];
      out += 3;
    }
  } else {
    for (JDIMENSION x = 0; x < width; ++x) {
      const unsigned index = indexes[x];
      for (unsigned c = 0; c < components; ++c) *out++ = colormap[c][index];
    }
  }
  deliver(cinfo, sink, dest);
}

// Quantised gray: one sample per pixel from colormap row 0.
void tamlo_jpeg_put_demapped_gray(j_decompress_ptr cinfo, ppm_row_sink *public_sink,
                                  JDIMENSION, unsigned char *dest) {
  ppm_row_sink_private *const sink = private_of(public_sink);
  const JSAMPROW indexes = sink->pub.sample_rows[0];
  const JSAMPROW map0 = cinfo->colormap[0];
  unsigned char *const out = sink->out_row;
  const JDIMENSION width = demapped_width(cinfo, sink, 1);
  for (JDIMENSION x = 0; x < width; ++x) out[x] = map0[indexes[x]];
  deliver(cinfo, sink, dest);
}

// An emitter that copies a row decoded into sample_rows[0] into the
// sink's row, sample by sample, and delivers it. The initialiser never
// selects it (the direct emitter has libjpeg decode straight into the
// row), and it is local to this file: no host can reach it.
[[maybe_unused]] void tamlo_jpeg_copy_pixel_rows(j_decompress_ptr cinfo, ppm_row_sink *public_sink,
                                                 JDIMENSION, unsigned char *dest) {
  ppm_row_sink_private *const sink = private_of(public_sink);
  const JSAMPROW samples = sink->pub.sample_rows[0];
  const std::uint32_t count = current_row_bytes(cinfo, sink);
  for (std::uint32_t i = 0; i < count; ++i) sink->out_row[i] = samples[i];
  deliver(cinfo, sink, dest);
}

}  // namespace

extern "C" ppm_row_sink *tamlo_jpeg_jinit_write_ppm(j_decompress_ptr cinfo) {
  auto *const sink = static_cast<ppm_row_sink_private *>((*cinfo->mem->alloc_small)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, sizeof(ppm_row_sink_private)));
  // Zeroed so that no field, client_slot included, starts out undefined.
  std::memset(sink, 0, sizeof *sink);
  sink->pub.start_output = tamlo_jpeg_start_output_ppm;
  sink->pub.finish_output = tamlo_jpeg_finish_output_ppm;

  // Sizes below follow scaling and quantisation, so compute them first.
  jpeg_calc_output_dimensions(cinfo);
  if (!one_byte_per_component(cinfo->out_color_space)) {
    // Packed formats (RGB565) would leave part of every row unwritten.
    ERREXIT(cinfo, JERR_CONVERSION_NOTIMPL);
  }

  sink->row_samples = static_cast<std::uint32_t>(cinfo->output_width) *
                      static_cast<std::uint32_t>(cinfo->out_color_components);
  sink->row_bytes = sink->row_samples;
  sink->components = cinfo->out_color_components;
  sink->quantized = cinfo->quantize_colors;
  sink->out_row = static_cast<unsigned char *>((*cinfo->mem->alloc_small)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, sink->row_bytes));

  if (cinfo->quantize_colors) {
    // libjpeg writes palette indexes into a row of their own.
    sink->pub.sample_rows = (*cinfo->mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
        cinfo->output_width * static_cast<JDIMENSION>(cinfo->output_components), 1);
    sink->pub.put_pixel_rows = cinfo->out_color_space == JCS_GRAYSCALE
                                   ? tamlo_jpeg_put_demapped_gray
                                   : tamlo_jpeg_put_demapped_rgb;
  } else {
    // libjpeg decodes straight into out_row.
    sink->row_pointer = sink->out_row;
    sink->pub.sample_rows = &sink->row_pointer;
    sink->pub.put_pixel_rows = tamlo_jpeg_put_pixel_rows;
  }
  sink->pub.sample_row_count = 1;
  return &sink->pub;
}
