#include "convert.h"

#include <cerrno>
#include <csetjmp>
#include <cstring>

#include <jerror.h>

#include "tamlo_jpeg.h"

namespace {

constexpr std::size_t input_buffer_size = 1 << 16;

// libjpeg's error manager, extended with a jump back to decode_image and
// a record of what went wrong.
struct error_state {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  int warnings;
  bool write_failed;
  int read_errno;  // the input stream failed with this error
  char message[JMSG_LENGTH_MAX + 200];
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

// A data source over a stdio stream that tells a read error from the end
// of the data: libjpeg's own takes both for the end.
struct stream_source {
  jpeg_source_mgr pub;
  std::FILE *stream;
  JOCTET *buffer;
  bool started;  // some data has been read
};

void source_init(j_decompress_ptr) {}

boolean source_fill(j_decompress_ptr cinfo) {
  auto *src = reinterpret_cast<stream_source *>(cinfo->src);
  std::size_t n = std::fread(src->buffer, 1, input_buffer_size, src->stream);
  if (n == 0) {
    if (std::ferror(src->stream)) {
      state_of(reinterpret_cast<j_common_ptr>(cinfo))->read_errno = errno != 0 ? errno : EIO;
      ERREXIT(cinfo, JERR_FILE_READ);
    }
    if (!src->started) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // The data ends early: an end-of-image marker lets libjpeg finish what
    // it has, with a warning.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
  }
  src->started = true;
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = n;
  return TRUE;
}

void source_skip(j_decompress_ptr cinfo, long count) {
  auto *src = reinterpret_cast<stream_source *>(cinfo->src);
  while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
    count -= static_cast<long>(src->pub.bytes_in_buffer);
    source_fill(cinfo);
  }
  if (count > 0) {
    src->pub.next_input_byte += count;
    src->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
  }
}

void source_term(j_decompress_ptr) {}

void use_stream_source(j_decompress_ptr cinfo, std::FILE *stream) {
  auto *src = static_cast<stream_source *>((*cinfo->mem->alloc_small)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(stream_source)));
  src->buffer = static_cast<JOCTET *>((*cinfo->mem->alloc_small)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, input_buffer_size));
  src->stream = stream;
  src->started = false;
  src->pub.init_source = source_init;
  src->pub.fill_input_buffer = source_fill;
  src->pub.skip_input_data = source_skip;
  src->pub.resync_to_restart = jpeg_resync_to_restart;
  src->pub.term_source = source_term;
  src->pub.next_input_byte = nullptr;
  src->pub.bytes_in_buffer = 0;
  cinfo->src = &src->pub;
}

const char *kind_of_output(int components) {
  return components == 1 ? "gray" : components == 3 ? "colour" : "CMYK";
}

// Sets the decode up as the options ask; false, with the reason in
// `message`, for options this image cannot be decoded with.
bool set_output_parameters(j_decompress_ptr cinfo, const convert_options &o, char *message,
                           std::size_t message_size) {
  if (o.grayscale) cinfo->out_color_space = JCS_GRAYSCALE;
  cinfo->scale_num = o.scale_num;
  cinfo->scale_denom = o.scale_denom;
  cinfo->dct_method = o.dct;
  cinfo->do_fancy_upsampling = o.fancy_upsampling ? TRUE : FALSE;
  if (o.colors == 0) return true;
  cinfo->quantize_colors = TRUE;
  cinfo->desired_number_of_colors = o.colors;
  cinfo->dither_mode = o.dither;
  jpeg_calc_output_dimensions(cinfo);
  // The two-pass quantiser handles colour only; gray and CMYK are
  // quantised in one pass, with a colormap of whole levels per component.
  const int components = cinfo->out_color_components;
  if (o.passes == quantiser_passes::two && components != 3) {
    std::snprintf(message, message_size,
                  "--two-pass: %s output is quantised in one pass only; leave out --two-pass",
                  kind_of_output(components));
    return false;
  }
  const int fewest = components == 1 ? 2 : components == 3 ? 8 : 16;
  if (o.colors < fewest) {
    std::snprintf(message, message_size, "--colors %d: %s output needs at least %d colours",
                  o.colors, kind_of_output(components), fewest);
    return false;
  }
  cinfo->two_pass_quantize = components == 3 && o.passes != quantiser_passes::one ? TRUE : FALSE;
  return true;
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

// What decode_image hands back besides its result; kept outside it, since
// a longjmp out of decode_image skips its destructors.
struct decode_outputs {
  bool output_opened = false;
  std::string refusal;
};

// Every object here is trivially destructible, so the longjmp of a fatal
// libjpeg error skips no clean-up; the caller destroys the decompressor.
bool decode_image(j_decompress_ptr cinfo, error_state *err, std::FILE *in,
                  const convert_options *options, const open_destination *open,
                  decode_outputs *outputs) {
  if (setjmp(err->jump)) return false;
  use_stream_source(cinfo, in);
  jpeg_read_header(cinfo, TRUE);
  if (!set_output_parameters(cinfo, *options, err->message, sizeof err->message)) return false;
  ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(cinfo);
  const int components = cinfo->out_color_components;
  if (components != 1 && components != 3 && components != 4) {
    ERREXIT(cinfo, JERR_CONVERSION_NOTIMPL);
  }
  std::FILE *out = (*open)(components, outputs->refusal);
  if (out == nullptr) return false;
  outputs->output_opened = true;
  jpeg_start_decompress(cinfo);
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
    if (rows == 0) continue;
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

convert_result convert_jpeg(std::FILE *in, const convert_options &options,
                            const open_destination &open) {
  jpeg_decompress_struct cinfo{};
  error_state err{};
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jump_on_error;
  err.pub.emit_message = note_message;
  jpeg_create_decompress(&cinfo);
  decode_outputs outputs;
  const bool ok = decode_image(&cinfo, &err, in, &options, &open, &outputs);

  convert_result result;
  result.ok = ok;
  result.output_opened = outputs.output_opened;
  result.write_failed = err.write_failed;
  result.components = cinfo.out_color_components;
  result.warnings = err.warnings;
  if (err.write_failed) {
    result.message = std::string("write error: ") + std::strerror(errno);
  } else if (!outputs.refusal.empty()) {
    result.message = outputs.refusal;
  } else if (err.read_errno != 0) {
    result.message = std::string("read error: ") + std::strerror(err.read_errno);
  } else if (!ok) {
    result.message = err.message;
  } else if (err.warnings > 0) {
    result.message = err.first_warning;
  }
  jpeg_destroy_decompress(&cinfo);
  return result;
}
