#include "convert.h"

#include <cerrno>
#include <csetjmp>
#include <cstring>

#include <jerror.h>

#include "tamlo_jpeg.h"

namespace {

// libjpeg's error manager, extended with a jump back to decode_image and
// a record of what went wrong.
struct error_state {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  int warnings;
  bool write_failed;
  char message[JMSG_LENGTH_MAX];
  char first_warning[JMSG_LENGTH_MAX];
};

error_state *state_of(j_common_ptr cinfo) {
  return reinterpret_cast<error_state *>(cinfo->err);
}

[[noreturn]] void jump_on_error(j_common_ptr cinfo) {
  error_state *err = state_of(cinfo);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Counts warnings and keeps the first; trace messages are dropped.
void note_message(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  error_state *err = state_of(cinfo);
  if (err->warnings++ == 0) (*cinfo->err->format_message)(cinfo, err->first_warning);
}

void set_output_parameters(j_decompress_ptr cinfo, const convert_options &o) {
  if (o.grayscale) cinfo->out_color_space = JCS_GRAYSCALE;
  cinfo->scale_num = o.scale_num;
  cinfo->scale_denom = o.scale_denom;
  cinfo->dct_method = o.dct;
  cinfo->do_fancy_upsampling = o.fancy_upsampling ? TRUE : FALSE;
  if (o.colors > 0) {
    cinfo->quantize_colors = TRUE;
    cinfo->desired_number_of_colors = o.colors;
    cinfo->dither_mode = o.dither;
    // The two-pass quantiser handles three components only; gray and
    // CMYK use the one-pass quantiser unless two passes were asked for.
    jpeg_calc_output_dimensions(cinfo);
    cinfo->two_pass_quantize =
        o.passes == quantiser_passes::two ||
                (o.passes == quantiser_passes::automatic && cinfo->out_color_components == 3)
            ? TRUE
            : FALSE;
  }
}

bool write_header(std::FILE *out, j_decompress_ptr cinfo) {
  const unsigned w = cinfo->output_width, h = cinfo->output_height;
  switch (cinfo->out_color_components) {
    case 1: return std::fprintf(out, "P5\n%u %u\n255\n", w, h) > 0;
    case 3: return std::fprintf(out, "P6\n%u %u\n255\n", w, h) > 0;
    default:
      return std::fprintf(out,
                          "P7\nWIDTH %u\nHEIGHT %u\nDEPTH 4\nMAXVAL 255\n"
                          "TUPLTYPE CMYK\nENDHDR\n",
                          w, h) > 0;
  }
}

// Every object here is trivially destructible, so the longjmp of a fatal
// libjpeg error skips no clean-up; the caller destroys the decompressor.
bool decode_image(j_decompress_ptr cinfo, error_state *err, std::FILE *in, std::FILE *out,
                  const convert_options *options) {
  if (setjmp(err->jump)) return false;
  jpeg_stdio_src(cinfo, in);
  jpeg_read_header(cinfo, TRUE);
  set_output_parameters(cinfo, *options);
  ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(cinfo);
  jpeg_start_decompress(cinfo);
  const int components = cinfo->out_color_components;
  if (components != 1 && components != 3 && components != 4) {
    ERREXIT(cinfo, JERR_CONVERSION_NOTIMPL);
  }
  const std::size_t row_bytes =
      static_cast<std::size_t>(cinfo->output_width) * static_cast<std::size_t>(components);
  auto *row = static_cast<unsigned char *>(
      (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, row_bytes));
  if (!write_header(out, cinfo)) {
    err->write_failed = true;
    return false;
  }
  (*sink->start_output)(cinfo, sink);
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION rows =
        jpeg_read_scanlines(cinfo, sink->sample_rows, sink->sample_row_count);
    (*sink->put_pixel_rows)(cinfo, sink, rows, row);
    if (std::fwrite(row, 1, row_bytes, out) != row_bytes) {
      err->write_failed = true;
      return false;
    }
  }
  (*sink->finish_output)(cinfo, sink);
  jpeg_finish_decompress(cinfo);
  return true;
}

}  // namespace

const char *pnm_extension(int components) {
  return components == 1 ? ".pgm" : components == 3 ? ".ppm" : ".pam";
}

convert_result convert_jpeg(std::FILE *in, std::FILE *out, const convert_options &options) {
  jpeg_decompress_struct cinfo{};
  error_state err{};
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jump_on_error;
  err.pub.emit_message = note_message;
  jpeg_create_decompress(&cinfo);
  const bool ok = decode_image(&cinfo, &err, in, out, &options);

  convert_result result;
  result.ok = ok;
  result.components = cinfo.out_color_components;
  result.warnings = err.warnings;
  if (err.write_failed) {
    result.message = std::string("write error: ") + std::strerror(errno);
  } else if (!ok) {
    result.message = err.message;
  } else if (err.warnings > 0) {
    result.message = err.first_warning;
  }
  jpeg_destroy_decompress(&cinfo);
  return result;
}
