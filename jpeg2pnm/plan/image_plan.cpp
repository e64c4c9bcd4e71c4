// Planning one image from its header, before any output is opened.
#include "image_plan.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>

#include "decode_setup.h"
#include "decompressor.h"
#include "image_limits.h"
#include "input/exif_orientation.h"

namespace {

// Output rows of `rows` image rows at the options' scale, when exact.
bool scaled_rows(const convert_options &o, std::uint64_t rows, std::uint64_t &scaled) {
  scaled = rows * o.scale_num / o.scale_denom;
  return rows * o.scale_num % o.scale_denom == 0;
}

// A crop that starts well down the image skips the entropy-coded data
// above it when restart markers allow (see input/restart_trim.h): the
// file is rebuilt to start near the region, whose rows move up by as many
// rows as were left out. Only for a crop that the whole image takes and
// within the pixel limit, so that refusals still name the image.
void trim_for_crop(const jpeg_data &in, const frame_as_read &frame, image_plan &plan) {
  const convert_options &o = plan.options;
  const auto first_row = static_cast<unsigned>(std::uint64_t{o.crop_y} * o.scale_denom / o.scale_num);
  if (!trim_rows_above(in.bytes, in.size, first_row, frame, plan.trim)) return;
  std::uint64_t skipped = 0;
  if (!scaled_rows(o, plan.trim.skipped_rows, skipped) || skipped > o.crop_y) return;
  plan.trimmed = true;
  plan.skipped_rows = static_cast<JDIMENSION>(skipped);
}

// The image's size at the options' scale, as libjpeg gives it; false when
// its header cannot be read (the decode then says why).
bool scaled_size(j_decompress_ptr cinfo, error_state *err, const jpeg_data &in, const convert_options *o,
                 unsigned *width, unsigned *height) {
  if (setjmp(err->jump)) return false;
  jpeg_mem_src(cinfo, in.bytes, static_cast<unsigned long>(in.size));
  jpeg_read_header(cinfo, TRUE);
  cinfo->scale_num = o->scale_num;
  cinfo->scale_denom = o->scale_denom;
  jpeg_calc_output_dimensions(cinfo);
  *width = cinfo->output_width;
  *height = cinfo->output_height;
  return true;
}

// Moves the options' crop, given in the upright image's coordinates, to
// the region of the stored `width` x `height` image (at the output scale)
// that shows it; "" or why it lies outside.
std::string crop_to_stored(unsigned width, unsigned height, int orientation, convert_options &o) {
  const bool swap = orientation_swaps(orientation);
  const unsigned upright_width = swap ? height : width, upright_height = swap ? width : height;
  const std::string outside = crop_outside(o, upright_width, upright_height,
                                           "the " + std::to_string(upright_width) + "x" +
                                               std::to_string(upright_height) + " image (upright)");
  if (!outside.empty()) return outside;
  unsigned x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  stored_pixel(orientation, width, height, o.crop_x, o.crop_y, x0, y0);
  stored_pixel(orientation, width, height, o.crop_x + o.crop_width - 1, o.crop_y + o.crop_height - 1, x1, y1);
  o.crop_x = std::min(x0, x1);
  o.crop_y = std::min(y0, y1);
  o.crop_width = std::max(x0, x1) - o.crop_x + 1;
  o.crop_height = std::max(y0, y1) - o.crop_y + 1;
  return "";
}

// A crop given in the upright image's coordinates, as the region of the
// image as stored that shows it; "" or why it lies outside.
std::string crop_as_stored(const jpeg_data &in, int orientation, convert_options &o) {
  jpeg_decompress_struct cinfo{};
  const decompressor_guard destroy_at_exit{cinfo};
  error_state err{};
  scan_watch watch{};
  start_decompressor(cinfo, err, watch, o);
  unsigned width = 0, height = 0;
  const bool read = scaled_size(&cinfo, &err, in, &o, &width, &height);
  if (!read) return "";
  return crop_to_stored(width, height, orientation, o);
}

// Whether every strip can start where its rows are: one scan (a file in
// several holds every coefficient of the image, which each strip would
// read and buffer whole) whose restart intervals are whole MCU rows, so
// that a strip's file is rebuilt from the interval above it.
bool intervals_start_rows(j_decompress_ptr cinfo) {
  if (cinfo->progressive_mode || cinfo->arith_code || jpeg_has_multiple_scans(cinfo) ||
      cinfo->restart_interval == 0) {
    return false;
  }
  const unsigned mcu_width =
      cinfo->num_components == 1 ? DCTSIZE : static_cast<unsigned>(cinfo->max_h_samp_factor) * DCTSIZE;
  const unsigned mcus_per_row = (cinfo->image_width + mcu_width - 1) / mcu_width;
  return mcus_per_row > 0 && cinfo->restart_interval % mcus_per_row == 0;
}

// Reads the header of the file as stored into the plan. Every object here
// is trivially destructible, so the longjmp of a fatal libjpeg error skips
// no clean-up.
bool read_stored(j_decompress_ptr cinfo, error_state *err, const jpeg_data &in, image_plan *plan, row_plan *rows,
                 frame_as_read *frame, std::uint64_t *working) {
  if (setjmp(err->jump)) return false;
  const bool keep_icc = !plan->options.icc_path.empty();
  if (!read_and_check(cinfo, err, {in.bytes, in.size}, plan->options, keep_icc, rows)) return false;
  if (keep_icc) plan->has_icc_profile = take_icc_profile(cinfo, &plan->icc_profile);
  *frame = frame_of(cinfo);
  *working = whole_image_memory(cinfo);
  plan->strips_fit = plan->options.colors == 0 && intervals_start_rows(cinfo);
  plan->mcu_rows = static_cast<JDIMENSION>(cinfo->max_v_samp_factor * cinfo->min_DCT_scaled_size);
  return true;
}

// An image to turn upright is held whole, on top of libjpeg's own
// whole-image buffers (`working` bytes): the memory limit holds for both
// together. "" or why it cannot be turned.
std::string turn_refusal(const row_plan &rows, std::uint64_t working, const convert_options &options) {
  const std::uint64_t bytes = std::uint64_t{rows.width} * rows.height * static_cast<unsigned>(rows.written_components);
  const auto mib = [](std::uint64_t b) { return static_cast<unsigned long long>((b + (1u << 20) - 1) >> 20); };
  if (options.max_memory_mib == 0 || mib(bytes) + mib(working) <= options.max_memory_mib) return "";
  char working_text[80] = "";
  if (working > 0) std::snprintf(working_text, sizeof working_text, " besides %llu MiB of working memory", mib(working));
  char message[400];
  std::snprintf(message, sizeof message,
                "the %ux%u image needs %llu MiB to be turned upright%s, over the limit of %llu MiB; "
                "--max-memory MIB raises it, 0 lifts it",
                rows.width, rows.height, mib(bytes), working_text, static_cast<unsigned long long>(options.max_memory_mib));
  return message;
}

}  // namespace

image_plan plan_image(const jpeg_data &in, const convert_options &options) {
  image_plan plan;
  plan.options = options;
  convert_options &o = plan.options;
  if (o.auto_orient) {
    const exif_reading exif = read_exif_orientation(in.bytes, in.size);
    plan.orientation = exif.orientation;
    plan.exif_damage = exif.damage;
    if (plan.orientation != 1 && o.crop_width > 0) {
      plan.refusal = crop_as_stored(in, plan.orientation, o);
      if (!plan.refusal.empty()) return plan;
    }
  }
  jpeg_decompress_struct cinfo{};
  const decompressor_guard destroy_at_exit{cinfo};
  error_state err{};
  scan_watch watch{};
  start_decompressor(cinfo, err, watch, o);
  row_plan rows{};
  frame_as_read frame;
  std::uint64_t working = 0;
  if (!read_stored(&cinfo, &err, in, &plan, &rows, &frame, &working)) {
    plan.refusal = err.message;
    return plan;
  }
  std::memcpy(plan.image_size, err.image_size, sizeof plan.image_size);
  plan.components = rows.written_components;
  plan.region = {rows.x, rows.y, rows.width, rows.height};
  const bool swap = orientation_swaps(plan.orientation);
  plan.width = swap ? rows.height : rows.width;
  plan.height = swap ? rows.width : rows.height;
  if (plan.orientation != 1) {
    plan.refusal = turn_refusal(rows, working, o);
    if (!plan.refusal.empty()) return plan;
  }
  if (o.crop_width > 0 && o.crop_y > 0) trim_for_crop(in, frame, plan);
  plan.ok = true;
  return plan;
}
