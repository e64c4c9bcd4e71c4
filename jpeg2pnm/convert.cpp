#include "convert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <jerror.h>

#include "block_writer.h"
#include "diagnostics.h"
#include "exif_orientation.h"
#include "ink.h"
#include "restart_trim.h"
#include "image_limits.h"
#include "tamlo_jpeg.h"

namespace {

// Columns decoded beyond each side of a crop: smooth chroma upsampling
// treats the edges of a cropped row as image edges, so the region is cut
// from a slightly wider decode whose edges lie outside it.
constexpr JDIMENSION crop_margin = 32;

// libjpeg's error manager, extended with a jump back to decode_image and
// a record of what went wrong.
struct error_state {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool strict;
  int warnings;
  bool write_failed;
  unsigned long long max_memory_mib;
  char image_size[32];  // the image as stored, at the output scale: "1000x750"
  char message[JMSG_LENGTH_MAX + 300];
  char first_warning[JMSG_LENGTH_MAX];
};

error_state *state_of(j_common_ptr cinfo) {
  return reinterpret_cast<error_state *>(cinfo->err);
}

// libjpeg's memory manager, held to --max-memory, refuses a whole-image
// buffer beyond it by asking for backing store, which this build of
// libjpeg has not: that refusal is the memory limit's.
[[noreturn]] void jump_on_error(j_common_ptr cinfo) {
  error_state *err = state_of(cinfo);
  if (cinfo->err->msg_code == JERR_NO_BACKING_STORE) {
    std::snprintf(err->message, sizeof err->message,
                  "the %s image needs more working memory than the limit of %llu MiB; "
                  "--max-memory MIB raises it, 0 lifts it",
                  err->image_size, err->max_memory_mib);
  } else {
    (*cinfo->err->format_message)(cinfo, err->message);
  }
  std::longjmp(err->jump, 1);
}

// Counts scans as libjpeg reaches them (it calls the monitor before each
// step of its input), so that no segment can hide a scan from the limit.
struct scan_watch {
  jpeg_progress_mgr pub;
  unsigned long long max_scans;
};

void watch_scans(j_common_ptr common) {
  const auto *watch = reinterpret_cast<const scan_watch *>(common->progress);
  const auto scan = reinterpret_cast<j_decompress_ptr>(common)->input_scan_number;
  if (watch->max_scans == 0 || scan < 0 || static_cast<unsigned long long>(scan) <= watch->max_scans) return;
  error_state *err = state_of(common);
  std::snprintf(err->message, sizeof err->message,
                "the %s image has more than %llu scans, the limit; --max-scans N raises it, 0 lifts it",
                err->image_size, watch->max_scans);
  std::longjmp(err->jump, 1);
}

// Counts warnings and keeps the first; trace messages are dropped. Under
// --strict the first warning ends the decode.
void note_message(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  error_state *err = state_of(cinfo);
  if (err->warnings++ == 0) (*cinfo->err->format_message)(cinfo, err->first_warning);
  if (err->strict) {
    std::snprintf(err->message, sizeof err->message, "%s (--strict)", err->first_warning);
    std::longjmp(err->jump, 1);
  }
}

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
  if (plan->cropped &&
      (static_cast<std::uint64_t>(o.crop_x) + o.crop_width > cinfo->output_width ||
       static_cast<std::uint64_t>(o.crop_y) + o.crop_height > cinfo->output_height)) {
    return refuse(message, size,
                  "--crop %ux%u+%u+%u lies outside the %ux%u image", o.crop_width, o.crop_height,
                  o.crop_x, o.crop_y, cinfo->output_width, cinfo->output_height);
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

// The PNM header of an image of `components` components: P5, P6, or P7
// with ink amounts.
std::string pnm_header(int components, JDIMENSION w, JDIMENSION h) {
  char header[128];
  if (components == 1 || components == 3) {
    std::snprintf(header, sizeof header, "P%d\n%u %u\n255\n", components == 1 ? 5 : 6, w, h);
  } else {
    std::snprintf(header, sizeof header, "P7\nWIDTH %u\nHEIGHT %u\nDEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n", w, h);
  }
  return header;
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

// Reads the header of `data`, sets the decode up as the options ask and
// checks the limits; false with the reason in the error state. The first
// call names the image in the messages of later refusals.
bool read_and_check(j_decompress_ptr cinfo, error_state *err, const unsigned char *data,
                    std::size_t size, const convert_options *options, row_plan *plan) {
  jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
  if (!options->icc_path.empty()) jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);
  if (!set_output_parameters(cinfo, *options, err, plan)) return false;
  if (err->image_size[0] == '\0') {
    std::snprintf(err->image_size, sizeof err->image_size, "%ux%u", cinfo->output_width,
                  cinfo->output_height);
  }
  // The header has been read: what is left is the image data.
  return check_limits(cinfo, cinfo->src->bytes_in_buffer, *options, err);
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
  if (!read_and_check(cinfo, err, data, size, options, &plan)) return false;
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

// Writes the decoded region, held whole in `image`, turned upright: each
// upright row walks the stored image by a fixed step.
bool write_turned(const unsigned char *image, const row_plan &plan, int orientation, block_writer &out) {
  const std::size_t n = static_cast<std::size_t>(plan.written_components);
  const bool swap = orientation_swaps(orientation);
  const unsigned width = swap ? plan.height : plan.width, height = swap ? plan.width : plan.height;
  const auto offset = [&](unsigned u, unsigned v) {
    unsigned x = 0, y = 0;
    stored_pixel(orientation, plan.width, plan.height, u, v, x, y);
    return static_cast<std::ptrdiff_t>((static_cast<std::size_t>(y) * plan.width + x) * n);
  };
  for (unsigned v = 0; v < height; ++v) {
    unsigned char *dest = block_space(out, width * n);
    if (dest == nullptr) return false;
    const std::ptrdiff_t first = offset(0, v), step = width > 1 ? offset(1, v) - first : 0;
    const unsigned char *from = image + first;
    for (unsigned u = 0; u < width; ++u, from += step, dest += n) std::memcpy(dest, from, n);
  }
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

bool decode_strips(j_decompress_ptr cinfo, const unsigned char *data, std::size_t size,
                   const convert_options &options, const row_plan &plan, int fd, error_state *err);
convert_result decode_to(const unsigned char *data, std::size_t size, const convert_options &requested,
                         const row_target &target);

// Every object here is trivially destructible, so the longjmp of a fatal
// libjpeg error skips no clean-up; the caller destroys the decompressor.
bool decode_image(j_decompress_ptr cinfo, error_state *err, const unsigned char *data,
                  std::size_t size, const convert_options *options, const row_target *target,
                  decode_outputs *outputs, block_writer *writer) {
  if (setjmp(err->jump)) return false;
  row_plan plan{};
  if (!read_and_check(cinfo, err, data, size, options, &plan)) return false;
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
    if (!start_block_writer(*writer, out, options->write_behind, row_bytes)) {
      err->write_failed = true;
      return false;
    }
    // Two cores on one image, where restart markers allow; on any doubt
    // the whole image is decoded below, over what the strips wrote.
    if (target->orientation == 1 && writer->fd >= 0 &&
        decode_strips(cinfo, data, size, *options, plan, writer->fd, err)) {
      jpeg_abort_decompress(cinfo);
      return true;
    }
    if (err->write_failed) return false;
  }

  // An image to turn upright is held whole, within the memory limit.
  unsigned char *image = nullptr;
  const int orientation = target->orientation;
  if (orientation != 1) {
    const std::uint64_t bytes = std::uint64_t{plan.width} * plan.height * static_cast<unsigned>(plan.written_components);
    if (options->max_memory_mib != 0 && bytes > (options->max_memory_mib << 20)) {
      std::snprintf(err->message, sizeof err->message,
                    "the %ux%u image needs %llu MiB to be turned upright, over the limit of %llu MiB; "
                    "--max-memory MIB raises it, 0 lifts it",
                    plan.width, plan.height, static_cast<unsigned long long>((bytes + (1u << 20) - 1) >> 20),
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
      (image != nullptr && !write_turned(image, plan, orientation, *writer))) {
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
                   convert_options &o, trimmed_jpeg &trimmed) {
  const auto first_row = static_cast<unsigned>(std::uint64_t{o.crop_y} * o.scale_denom / o.scale_num);
  if (!trim_rows_above(data, size, first_row, frame, trimmed)) return false;
  std::uint64_t skipped = 0;
  if (!scaled_rows(o, trimmed.skipped_rows, skipped) || skipped > o.crop_y) return false;
  o.crop_y -= static_cast<unsigned>(skipped);
  return true;
}

// Sets up a decompressor with the error state and the limits on memory and
// scans.
void start_decompressor(jpeg_decompress_struct &cinfo, error_state &err, scan_watch &watch,
                        const convert_options &options) {
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jump_on_error;
  err.pub.emit_message = note_message;
  err.strict = options.strict;
  err.max_memory_mib = options.max_memory_mib;
  err.warnings = 0;
  jpeg_create_decompress(&cinfo);
  if (options.max_memory_mib != 0) {
    // Room beyond the whole-image buffers for libjpeg's row buffers and
    // tables, which the limit does not count.
    constexpr unsigned long long other_buffers = 64ull << 20;
    const unsigned long long limit = options.max_memory_mib > (LONG_MAX >> 20) - 64
                                         ? LONG_MAX
                                         : (options.max_memory_mib << 20) + other_buffers;
    cinfo.mem->max_memory_to_use = static_cast<long>(limit);
  }
  watch.pub.progress_monitor = watch_scans;
  watch.max_scans = options.max_scans;
  cinfo.progress = &watch.pub;
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
  const bool swap = orientation_swaps(orientation);
  const unsigned upright_width = swap ? height : width, upright_height = swap ? width : height;
  if (std::uint64_t{o.crop_x} + o.crop_width > upright_width ||
      std::uint64_t{o.crop_y} + o.crop_height > upright_height) {
    char message[160];
    std::snprintf(message, sizeof message, "--crop %ux%u+%u+%u lies outside the %ux%u image (upright)", o.crop_width,
                  o.crop_height, o.crop_x, o.crop_y, upright_width, upright_height);
    return message;
  }
  unsigned x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  stored_pixel(orientation, width, height, o.crop_x, o.crop_y, x0, y0);
  stored_pixel(orientation, width, height, o.crop_x + o.crop_width - 1, o.crop_y + o.crop_height - 1, x1, y1);
  o.crop_x = std::min(x0, x1);
  o.crop_y = std::min(y0, y1);
  o.crop_width = std::max(x0, x1) - o.crop_x + 1;
  o.crop_height = std::max(y0, y1) - o.crop_y + 1;
  return "";
}

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
  error_state err{};
  scan_watch watch{};
  trimmed_jpeg trimmed;
  bool ok = true;
  // A crop that starts well down the image may skip the data above it
  // (see restart_trim.h), once the file as stored has passed every check.
  if (options.crop_width > 0 && options.crop_y > 0) {
    start_decompressor(cinfo, err, watch, options);
    frame_as_read frame;
    ok = check_stored(&cinfo, &err, data, size, &options, &frame);
    jpeg_destroy_decompress(&cinfo);
    cinfo = jpeg_decompress_struct{};
    if (ok && trim_for_crop(data, size, frame, options, trimmed)) {
      data = trimmed.data.data();
      size = trimmed.data.size();
    }
  }
  start_decompressor(cinfo, err, watch, options);
  decode_outputs outputs;
  block_writer writer;
  if (ok) ok = decode_image(&cinfo, &err, data, size, &options, &target, &outputs, &writer);
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

// Whether the strips of an image can be written where they belong: a
// regular file at its start, not opened for appending (where pwrite would
// append).
bool positioned_output(int fd) {
  struct stat st {};
  const int flags = fcntl(fd, F_GETFL);
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flags >= 0 && (flags & O_APPEND) == 0 &&
         lseek(fd, 0, SEEK_CUR) == 0;
}

// Decodes the plan's rows in strips, one thread each, where restart
// markers let each strip start near its rows (see restart_trim.h): every
// strip is a crop of the image, which jpeg2pnm decodes as the full decode
// has it, rebuilt to start one MCU row above its first row so that
// upsampling at the cut has the same neighbours, and written at its offset
// in the output. True when every strip was decoded cleanly; false, with
// nothing to undo, when the image is not such a file or any strip warned
// or failed (the whole decode then writes over it), or, with the error
// state set, on a write error.
bool decode_strips(j_decompress_ptr cinfo, const unsigned char *data, std::size_t size,
                   const convert_options &options, const row_plan &plan, int fd, error_state *err) {
  if (options.strips < 2 || options.colors > 0 || cinfo->progressive_mode || cinfo->arith_code ||
      cinfo->restart_interval == 0 || !positioned_output(fd)) {
    return false;
  }
  // Strips start on MCU rows, and are at least two of them high.
  const JDIMENSION mcu_rows = static_cast<JDIMENSION>(cinfo->max_v_samp_factor * cinfo->min_DCT_scaled_size);
  const unsigned strips = std::min<unsigned>(options.strips, plan.height / (2 * mcu_rows));
  if (strips < 2) return false;
  const std::string header = pnm_header(plan.written_components, plan.width, plan.height);
  const auto header_length = static_cast<off_t>(header.size());
  const off_t row_bytes = static_cast<off_t>(plan.width) * plan.written_components;
  std::vector<JDIMENSION> starts{plan.y};
  for (unsigned k = 1; k < strips; ++k) {
    const JDIMENSION row = plan.y + static_cast<JDIMENSION>(std::uint64_t{plan.height} * k / strips);
    starts.push_back(std::max(starts.back() + mcu_rows, row / mcu_rows * mcu_rows));
  }
  starts.push_back(plan.y + plan.height);
  std::vector<convert_result> results(strips);
  const auto decode_strip = [&](unsigned k) {
    convert_options o = options;
    o.strips = 1;
    o.write_behind = false;
    o.icc_path.clear();
    o.crop_x = plan.x;
    o.crop_width = plan.width;
    o.crop_y = starts[k];
    o.crop_height = starts[k + 1] - starts[k];
    row_target target;
    target.fd = fd;
    target.offset = header_length + static_cast<off_t>(starts[k] - plan.y) * row_bytes;
    results[k] = decode_to(data, size, o, target);
  };
  std::vector<std::thread> threads;
  for (unsigned k = 1; k < strips; ++k) threads.emplace_back(decode_strip, k);
  decode_strip(0);
  for (std::thread &t : threads) t.join();
  for (const convert_result &r : results) {
    if (r.write_failed) {
      err->write_failed = true;
      errno = r.write_errno;
      return false;
    }
    if (!r.ok || r.warnings > 0) return false;
  }
  if (pwrite(fd, header.data(), header.size(), 0) != static_cast<ssize_t>(header.size())) {
    err->write_failed = true;
    return false;
  }
  // The descriptor's position stands where a sequential write leaves it.
  return lseek(fd, header_length + static_cast<off_t>(plan.height) * row_bytes, SEEK_SET) >= 0;
}

}  // namespace

convert_result convert_jpeg(const unsigned char *data, std::size_t size,
                            const convert_options &requested, const open_destination &open) {
  row_target target;
  target.open = &open;
  return decode_to(data, size, requested, target);
}

const char *pnm_extension(int components) {
  return components == 1 ? ".pgm" : components == 3 ? ".ppm" : ".pam";
}
