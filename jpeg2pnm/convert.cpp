#include "convert.h"

#include <sys/types.h>

#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include <jerror.h>

#include "block_writer.h"
#include "decompressor.h"
#include "diagnostics.h"
#include "exif_orientation.h"
#include "ink.h"
#include "restart_trim.h"
#include "image_limits.h"
#include "strips.h"
#include "tamlo_jpeg.h"
#include "upright.h"

namespace {

// Columns decoded beyond each side of a crop: smooth chroma upsampling
// treats the edges of a cropped row as image edges, so the region is cut
// from a slightly wider decode whose edges lie outside it.
constexpr JDIMENSION crop_margin = 32;

const char *kind_of_output(int components) {
  return components == 1 ? "gray" : components == 3 ? "colour" : "CMYK";
}

// How the rows libjpeg gives become the rows written.
struct row_plan {
  int decoded_components;  // out_color_components
  int written_components;  // 1, 3 or 4
  bool ink_inverted;       // Adobe CMYK: 255 means no ink
  bool cropped;
  JDIMENSION x, y, width, height;  // the region written
  JDIMENSION skipped_columns;      // decoded columns left of the region
};

bool refuse(char *message, std::size_t size, const char *format, ...) __attribute__((format(printf, 3, 4)));

bool refuse(char *message, std::size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, size, format, args);
  va_end(args);
  return false;
}

// Sets the decode up as the options ask; false, with the reason in the
// error state, for options this image cannot be decoded with.
bool set_output_parameters(j_decompress_ptr cinfo, const convert_options &o, error_state *err,
                           row_plan *plan) {
  char *const message = err->message;
  const std::size_t size = sizeof err->message;
  // CMYK and YCCK images decode to CMYK; RGB or gray is made from it here.
  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  if (o.grayscale && !cmyk) cinfo->out_color_space = JCS_GRAYSCALE;
  cinfo->scale_num = o.scale_num;
  cinfo->scale_denom = o.scale_denom;
  cinfo->dct_method = o.dct;
  cinfo->do_fancy_upsampling = o.fancy_upsampling ? TRUE : FALSE;
  if (o.colors > 0) {
    if (cmyk && (o.rgb || o.grayscale)) {
      return refuse(message, size,
                    "--colors: a CMYK image is quantised as CMYK only; leave out %s",
                    o.rgb ? "--rgb" : "--grayscale");
    }
    cinfo->quantize_colors = TRUE;
    cinfo->desired_number_of_colors = o.colors;
    cinfo->dither_mode = o.dither;
  }
  jpeg_calc_output_dimensions(cinfo);
  const int components = cinfo->out_color_components;
  if (o.colors > 0) {
    // The two-pass quantiser handles colour only; gray and CMYK are
    // quantised in one pass, with a colormap of whole levels per component.
    if (o.passes == quantiser_passes::two && components != 3) {
      return refuse(message, size,
                    "--two-pass: %s output is quantised in one pass only; leave out --two-pass",
                    kind_of_output(components));
    }
    const int fewest = components == 1 ? 2 : components == 3 ? 8 : 16;
    if (o.colors < fewest) {
      return refuse(message, size, "--colors %d: %s output needs at least %d colours",
                    o.colors, kind_of_output(components), fewest);
    }
    const bool two_pass = components == 3 && o.passes != quantiser_passes::one;
    if (two_pass && o.crop_width > 0) {
      return refuse(message, size,
                    "--crop: libjpeg cannot skip rows of a two-pass quantised decode; add --one-pass");
    }
    cinfo->two_pass_quantize = two_pass ? TRUE : FALSE;
  }

  plan->decoded_components = components;
  plan->written_components = cmyk && o.grayscale ? 1 : cmyk && o.rgb ? 3 : components;
  plan->ink_inverted = components == 4 && cinfo->saw_Adobe_marker;
  plan->cropped = o.crop_width > 0;
  plan->x = plan->cropped ? o.crop_x : 0;
  plan->y = plan->cropped ? o.crop_y : 0;
  plan->width = plan->cropped ? o.crop_width : cinfo->output_width;
  plan->height = plan->cropped ? o.crop_height : cinfo->output_height;
  plan->skipped_columns = 0;
  if (plan->cropped) {
    const std::string outside =
        crop_outside(o, cinfo->output_width, cinfo->output_height,
                     "the " + std::to_string(cinfo->output_width) + "x" + std::to_string(cinfo->output_height) + " image");
    if (!outside.empty()) return refuse(message, size, "%s", outside.c_str());
  }
  return true;
}

bool check_limits(j_decompress_ptr cinfo, std::uint64_t data_bytes, const convert_options &o,
                  error_state *err) {
  const std::string exceeded = limit_exceeded(cinfo, data_bytes, o);
  if (exceeded.empty()) return true;
  std::snprintf(err->message, sizeof err->message, "%s", exceeded.c_str());
  return false;
}

// Keeps the embedded ICC profile in `profile`; false when there is none.
bool take_icc_profile(j_decompress_ptr cinfo, std::vector<unsigned char> *profile) {
  JOCTET *data = nullptr;
  unsigned int length = 0;
  if (!jpeg_read_icc_profile(cinfo, &data, &length)) return false;
  profile->assign(data, data + length);
  std::free(data);
  return true;
}

// The header, into the writer's first block.
bool write_header(block_writer &out, int components, JDIMENSION w, JDIMENSION h) {
  const std::string header = pnm_header(components, w, h);
  unsigned char *space = block_space(out, header.size());
  if (space == nullptr) return false;
  std::memcpy(space, header.data(), header.size());
  return true;
}

// Whether libjpeg's own narrowing of rows gives the columns a full decode
// has. This libjpeg gets them wrong when it scales down by 2/8 to 7/8 an
// image with a component upsampled by unequal factors that are both above
// one (such as luma sampled 2x4 or 4x2), and in progressive files whose
// data ends early: there the columns are cut here from whole rows.
bool column_crop_is_exact(j_decompress_ptr cinfo) {
  // A progressive file that ends before its last scans is smoothed across
  // blocks, and across the cut too when libjpeg narrows the rows.
  if (cinfo->progressive_mode) return false;
  const bool partly_scaled = cinfo->scale_num * 8 > cinfo->scale_denom && cinfo->scale_num < cinfo->scale_denom;
  if (!partly_scaled) return true;
  for (int c = 0; c < cinfo->num_components; ++c) {
    const int h = cinfo->max_h_samp_factor / cinfo->comp_info[c].h_samp_factor;
    const int v = cinfo->max_v_samp_factor / cinfo->comp_info[c].v_samp_factor;
    if (h > 1 && v > 1 && h != v) return false;
  }
  return true;
}

// Narrows the decode to the plan's region: whole rows above it skipped,
// columns cut from a decode a margin wider on each side.
void start_crop(j_decompress_ptr cinfo, row_plan *plan) {
  if (!column_crop_is_exact(cinfo)) {
    plan->skipped_columns = plan->x;
    if (plan->y > 0) jpeg_skip_scanlines(cinfo, plan->y);
    return;
  }
  JDIMENSION left = plan->x > crop_margin ? plan->x - crop_margin : 0;
  const JDIMENSION right = plan->x + plan->width + crop_margin < cinfo->output_width
                               ? plan->x + plan->width + crop_margin
                               : cinfo->output_width;
  JDIMENSION width = right - left;
  jpeg_crop_scanline(cinfo, &left, &width);
  plan->skipped_columns = plan->x - left;
  if (plan->y > 0) jpeg_skip_scanlines(cinfo, plan->y);
}

void *image_block(j_decompress_ptr cinfo, std::size_t bytes) {
  return (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, bytes);
}

// What decode_image hands back besides its result; kept outside it, since
// a longjmp out of decode_image skips its destructors.
struct decode_outputs {
  std::vector<unsigned char> turned;  // the region, held whole to be turned upright
  std::string refusal;
  bool has_icc_profile = false;
  std::vector<unsigned char> icc_profile;
};

// The file a decode reads: the file as stored, or, when `trimmed` is set,
// the file rebuilt from it to start at a restart interval, read through
// `source` (see restart_trim.h) with its rows `skipped_rows` (at the
// output's scale) above the stored file's.
struct jpeg_bytes {
  const unsigned char *data;
  std::size_t size;
  const trimmed_jpeg *trimmed = nullptr;
  trimmed_source *source = nullptr;
  JDIMENSION skipped_rows = 0;
};

// Reads the header of `in`, sets the decode up as the options ask and
// checks the limits; false with the reason in the error state. The first
// call names the image in the messages of later refusals.
bool read_and_check(j_decompress_ptr cinfo, error_state *err, const jpeg_bytes &in,
                    const convert_options *options, row_plan *plan) {
  if (in.trimmed != nullptr) {
    read_trimmed_jpeg(cinfo, *in.source, *in.trimmed);
  } else {
    jpeg_mem_src(cinfo, in.data, static_cast<unsigned long>(in.size));
  }
  if (!options->icc_path.empty()) jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);
  if (!set_output_parameters(cinfo, *options, err, plan)) return false;
  if (err->image_size[0] == '\0') {
    std::snprintf(err->image_size, sizeof err->image_size, "%ux%u", cinfo->output_width,
                  cinfo->output_height);
  }
  // The header has been read: what is left is the image data.
  const std::uint64_t data_bytes =
      in.trimmed != nullptr ? trimmed_bytes_left(*in.source) : cinfo->src->bytes_in_buffer;
  return check_limits(cinfo, data_bytes, *options, err);
}

// What libjpeg read of the frame, for the check of a rebuilt file.
frame_as_read frame_of(j_decompress_ptr cinfo) {
  frame_as_read f;
  f.width = cinfo->image_width;
  f.height = cinfo->image_height;
  f.components = static_cast<unsigned>(cinfo->num_components);
  f.max_h = static_cast<unsigned>(cinfo->max_h_samp_factor);
  f.max_v = static_cast<unsigned>(cinfo->max_v_samp_factor);
  f.restart_interval = cinfo->restart_interval;
  return f;
}

// Checks the file as stored, before any rebuild, so that limits, libjpeg's
// own refusals and messages apply to the image as stored.
bool check_stored(j_decompress_ptr cinfo, error_state *err, const unsigned char *data, std::size_t size,
                  const convert_options *options, frame_as_read *frame) {
  if (setjmp(err->jump)) return false;
  row_plan plan{};
  if (!read_and_check(cinfo, err, {data, size}, options, &plan)) return false;
  *frame = frame_of(cinfo);
  return true;
}

// Decodes the plan's rows through the sink into the writer's blocks: the
// region's columns, CMYK turned the right way or into light as asked. A
// row that needs no cutting or conversion goes from the sink straight into
// its block. False on a write error. Its buffers come from the image pool,
// so that a longjmp out of it leaks nothing.
bool write_rows(j_decompress_ptr cinfo, ppm_row_sink *sink, const row_plan &plan, block_writer &out,
                unsigned char *image) {
  const int components = plan.decoded_components;
  (*sink->start_output)(cinfo, sink);
  const std::size_t decoded_bytes =
      static_cast<std::size_t>(cinfo->output_width) * static_cast<std::size_t>(components);
  const std::size_t written_bytes =
      static_cast<std::size_t>(plan.width) * static_cast<std::size_t>(plan.written_components);
  const bool straight = plan.written_components == components && decoded_bytes == written_bytes;
  auto *row = straight ? nullptr : static_cast<unsigned char *>(image_block(cinfo, decoded_bytes));
  const JDIMENSION last_row = plan.y + plan.height;
  while (cinfo->output_scanline < last_row) {
    const JDIMENSION rows = jpeg_read_scanlines(cinfo, sink->sample_rows, sink->sample_row_count);
    if (rows == 0) continue;
    unsigned char *dest = image != nullptr ? image : block_space(out, written_bytes);
    if (dest == nullptr) return false;
    if (image != nullptr) image += written_bytes;
    if (straight) {
      (*sink->put_pixel_rows)(cinfo, sink, rows, dest);
      if (plan.ink_inverted) invert_samples(dest, written_bytes);
      continue;
    }
    (*sink->put_pixel_rows)(cinfo, sink, rows, row);
    unsigned char *region =
        row + static_cast<std::size_t>(plan.skipped_columns) * static_cast<std::size_t>(components);
    if (plan.ink_inverted) invert_samples(region, static_cast<std::size_t>(plan.width) * 4);
    if (plan.written_components == 3 && components == 4) {
      ink_to_rgb(region, plan.width, dest);
    } else if (plan.written_components == 1 && components == 4) {
      ink_to_gray(region, plan.width, dest);
    } else {
      std::memcpy(dest, region, written_bytes);
    }
  }
  (*sink->finish_output)(cinfo, sink);
  return true;
}

// Where decode_image puts the image: the stream `open` gives, header
// first; or, for a strip of a larger image, the descriptor `fd` from
// `offset` on, rows only.
struct row_target {
  const open_destination *open = nullptr;
  int fd = -1;
  off_t offset = 0;
  int orientation = 1;  // EXIF's: how the image is turned upright on its way out
};

convert_result decode_to(const unsigned char *data, std::size_t size, const convert_options &requested,
                         const row_target &target);

// One strip's decode (see strips.h): rows only, at `offset` of the output.
convert_result decode_strip(const strip_source &source, const convert_options &strip, off_t offset) {
  row_target rows;
  rows.fd = source.fd;
  rows.offset = offset;
  return decode_to(source.data, source.size, strip, rows);
}

// Every object here is trivially destructible, so the longjmp of a fatal
// libjpeg error skips no clean-up; the caller destroys the decompressor.
bool decode_image(j_decompress_ptr cinfo, error_state *err, const jpeg_bytes *in, const convert_options *options,
                  const row_target *target, decode_outputs *outputs, block_writer *writer) {
  if (setjmp(err->jump)) return false;
  row_plan plan{};
  if (!read_and_check(cinfo, err, *in, options, &plan)) return false;
  ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(cinfo);
  const int components = plan.decoded_components;
  if (components != 1 && components != 3 && components != 4) {
    ERREXIT(cinfo, JERR_CONVERSION_NOTIMPL);
  }
  if (!options->icc_path.empty()) {
    outputs->has_icc_profile = take_icc_profile(cinfo, &outputs->icc_profile);
  }
  const std::size_t row_bytes = static_cast<std::size_t>(cinfo->output_width) * 4;
  if (target->open == nullptr) {
    if (!start_block_writer(*writer, target->fd, row_bytes, target->offset)) err->write_failed = true;
  } else {
    std::FILE *out = (*target->open)(plan.written_components, outputs->has_icc_profile, outputs->refusal);
    if (out == nullptr) return false;
    // Two cores on one image, where restart markers allow, before any
    // writer is set up; on any doubt the whole image is decoded below,
    // over what the strips wrote. A stream with no descriptor (in memory)
    // is never fit for strips.
    // The strips read the file as stored, where the region lies lower
    // when the decode here skips the rows above it.
    if (target->orientation == 1 && std::fflush(out) == 0 &&
        decode_in_strips(cinfo, *options,
                         {plan.x, plan.y + in->skipped_rows, plan.width, plan.height, plan.written_components},
                         {in->data, in->size, fileno(out)}, decode_strip, err)) {
      jpeg_abort_decompress(cinfo);
      return true;
    }
    if (err->write_failed || !start_block_writer(*writer, out, options->write_behind, row_bytes)) {
      err->write_failed = true;
      return false;
    }
  }

  // An image to turn upright is held whole, within the memory limit.
  unsigned char *image = nullptr;
  const int orientation = target->orientation;
  if (orientation != 1) {
    // The turned image comes on top of libjpeg's own whole-image buffers:
    // the limit holds for both together.
    const std::uint64_t bytes = std::uint64_t{plan.width} * plan.height * static_cast<unsigned>(plan.written_components);
    const std::uint64_t working = whole_image_memory(cinfo);
    const auto mib = [](std::uint64_t b) { return static_cast<unsigned long long>((b + (1u << 20) - 1) >> 20); };
    if (options->max_memory_mib != 0 && mib(bytes) + mib(working) > options->max_memory_mib) {
      char working_text[80] = "";
      if (working > 0) std::snprintf(working_text, sizeof working_text, " besides %llu MiB of working memory", mib(working));
      std::snprintf(err->message, sizeof err->message,
                    "the %ux%u image needs %llu MiB to be turned upright%s, over the limit of %llu MiB; "
                    "--max-memory MIB raises it, 0 lifts it",
                    plan.width, plan.height, mib(bytes), working_text,
                    static_cast<unsigned long long>(options->max_memory_mib));
      return false;
    }
    outputs->turned.resize(static_cast<std::size_t>(bytes));
    image = outputs->turned.data();
  }
  const bool swap = orientation_swaps(orientation);
  jpeg_start_decompress(cinfo);
  if (plan.cropped) start_crop(cinfo, &plan);
  if ((target->open != nullptr && !write_header(*writer, plan.written_components, swap ? plan.height : plan.width,
                                                swap ? plan.width : plan.height)) ||
      !write_rows(cinfo, sink, plan, *writer, image) ||
      (image != nullptr &&
       !write_turned(image, plan.width, plan.height, plan.written_components, orientation, *writer))) {
    err->write_failed = true;
    return false;
  }
  // Rows below a crop are not needed: the decode ends without them.
  if (cinfo->output_scanline < cinfo->output_height) {
    jpeg_abort_decompress(cinfo);
  } else {
    jpeg_finish_decompress(cinfo);
  }
  return true;
}

// Output rows of `rows` image rows at the options' scale, when exact.
bool scaled_rows(const convert_options &o, std::uint64_t rows, std::uint64_t &scaled) {
  scaled = rows * o.scale_num / o.scale_denom;
  return rows * o.scale_num % o.scale_denom == 0;
}

// A crop that starts well down the image skips the entropy-coded data
// above it when restart markers allow (see restart_trim.h): the file is
// rebuilt to start near the region, and the region's rows move up by as
// many rows as were left out. Only for a crop that the whole image takes
// and within the pixel limit, so that refusals still name the image.
bool trim_for_crop(const unsigned char *data, std::size_t size, const frame_as_read &frame,
                   convert_options &o, trimmed_jpeg &trimmed, JDIMENSION &skipped_rows) {
  const auto first_row = static_cast<unsigned>(std::uint64_t{o.crop_y} * o.scale_denom / o.scale_num);
  if (!trim_rows_above(data, size, first_row, frame, trimmed)) return false;
  std::uint64_t skipped = 0;
  if (!scaled_rows(o, trimmed.skipped_rows, skipped) || skipped > o.crop_y) return false;
  skipped_rows = static_cast<JDIMENSION>(skipped);
  o.crop_y -= skipped_rows;
  return true;
}

// The image's size at the options' scale, as libjpeg gives it; false when
// its header cannot be read (the decode then says why).
bool scaled_size(j_decompress_ptr cinfo, error_state *err, const unsigned char *data, std::size_t size,
                 const convert_options *o, unsigned *width, unsigned *height) {
  if (setjmp(err->jump)) return false;
  jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(cinfo, TRUE);
  cinfo->scale_num = o->scale_num;
  cinfo->scale_denom = o->scale_denom;
  jpeg_calc_output_dimensions(cinfo);
  *width = cinfo->output_width;
  *height = cinfo->output_height;
  return true;
}

// A crop given in the upright image's coordinates, as the region of the
// image as stored that shows it; "" or why it lies outside.
std::string crop_as_stored(const unsigned char *data, std::size_t size, int orientation, convert_options &o) {
  jpeg_decompress_struct cinfo{};
  error_state err{};
  scan_watch watch{};
  start_decompressor(cinfo, err, watch, o);
  unsigned width = 0, height = 0;
  const bool read = scaled_size(&cinfo, &err, data, size, &o, &width, &height);
  jpeg_destroy_decompress(&cinfo);
  if (!read) return "";
  return crop_to_stored(width, height, orientation, o);
}

// Destroys a decompressor on every way out of a scope, an exception for
// memory that ran out included; jpeg_destroy_decompress clears `mem`, so
// one destroyed already is left alone.
struct decompressor_guard {
  jpeg_decompress_struct &cinfo;
  ~decompressor_guard() {
    if (cinfo.mem != nullptr) jpeg_destroy_decompress(&cinfo);
  }
};

// The whole decode of one image, or of one strip of it, to `target`.
convert_result decode_to(const unsigned char *data, std::size_t size, const convert_options &requested,
                         const row_target &given) {
  convert_options options = requested;
  row_target target = given;
  std::string exif_damage;
  if (options.auto_orient) {
    const exif_reading exif = read_exif_orientation(data, size);
    target.orientation = exif.orientation;
    exif_damage = exif.damage;
    if (target.orientation != 1 && options.crop_width > 0) {
      convert_result refused;
      refused.message = crop_as_stored(data, size, target.orientation, options);
      if (!refused.message.empty()) return refused;
    }
  }
  jpeg_decompress_struct cinfo{};
  const decompressor_guard destroy_at_exit{cinfo};
  error_state err{};
  scan_watch watch{};
  trimmed_jpeg trimmed;
  trimmed_source source;
  jpeg_bytes in{data, size};
  bool ok = true;
  // A crop that starts well down the image may skip the data above it
  // (see restart_trim.h), once the file as stored has passed every check.
  if (options.crop_width > 0 && options.crop_y > 0) {
    start_decompressor(cinfo, err, watch, options);
    frame_as_read frame;
    ok = check_stored(&cinfo, &err, data, size, &options, &frame);
    jpeg_destroy_decompress(&cinfo);
    cinfo = jpeg_decompress_struct{};
    if (ok && trim_for_crop(data, size, frame, options, trimmed, in.skipped_rows)) {
      in.trimmed = &trimmed;
      in.source = &source;
    }
  }
  start_decompressor(cinfo, err, watch, options);
  decode_outputs outputs;
  block_writer writer;
  if (ok) ok = decode_image(&cinfo, &err, &in, &options, &target, &outputs, &writer);
  int write_errno = err.write_failed ? errno : 0;
  if (!ok) writer.used = 0;  // a failed image's rows are not written
  if (writer.capacity > 0 && !finish_block_writer(writer) && ok) {
    ok = false;
    err.write_failed = true;
    write_errno = errno;
  }

  convert_result result;
  result.ok = ok;
  result.write_failed = err.write_failed;
  result.warnings = err.warnings;
  result.has_icc_profile = outputs.has_icc_profile;
  result.icc_profile = std::move(outputs.icc_profile);
  result.write_errno = write_errno;
  result.exif_damage = exif_damage;
  if (err.write_failed) {
    result.message = write_error_text(write_errno);
  } else if (!outputs.refusal.empty()) {
    result.message = outputs.refusal;
  } else if (!ok) {
    result.message = err.message;
  } else if (err.warnings > 0) {
    result.message = err.first_warning;
  }
  jpeg_destroy_decompress(&cinfo);
  return result;
}

}  // namespace

convert_result convert_jpeg(const unsigned char *data, std::size_t size,
                            const convert_options &requested, const open_destination &open) {
  row_target target;
  target.open = &open;
  return decode_to(data, size, requested, target);
}

std::string pnm_header(int components, unsigned w, unsigned h) {
  char header[128];
  if (components == 1 || components == 3) {
    std::snprintf(header, sizeof header, "P%d\n%u %u\n255\n", components == 1 ? 5 : 6, w, h);
  } else {
    std::snprintf(header, sizeof header, "P7\nWIDTH %u\nHEIGHT %u\nDEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n", w, h);
  }
  return header;
}

const char *pnm_extension(int components) {
  return components == 1 ? ".pgm" : components == 3 ? ".ppm" : ".pam";
}
