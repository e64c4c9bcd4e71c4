// Decoding a planned image's rows through the row sink into the block
// writer: the region's columns, CMYK turned the right way or into light,
// turned upright where the plan says.
#include "row_decode.h"

#include <csetjmp>
#include <cstring>
#include <vector>

#include "diagnostics.h"
#include "ink.h"
#include "output/block_writer.h"
#include "output/pnm_format.h"
#include "plan/decode_setup.h"
#include "plan/decompressor.h"
#include "tamlo_jpeg.h"
#include "upright.h"

namespace {

// Columns decoded beyond each side of a crop: smooth chroma upsampling
// treats the edges of a cropped row as image edges, so the region is cut
// from a slightly wider decode whose edges lie outside it.
constexpr JDIMENSION crop_margin = 32;

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

// Decodes the plan's rows into `writer`, started here for `to`; `turned`
// holds an image to be turned upright. Every object here is trivially
// destructible, so the longjmp of a fatal libjpeg error skips no clean-up;
// the caller destroys the decompressor.
bool decode_into(j_decompress_ptr cinfo, error_state *err, const jpeg_bytes *in, const image_plan *plan,
                 const convert_options *options, const row_destination *to, unsigned char *turned,
                 block_writer *writer) {
  if (setjmp(err->jump)) return false;
  row_plan rows{};
  if (!read_and_check(cinfo, err, *in, *options, false, &rows)) return false;
  ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(cinfo);
  const std::size_t row_bytes = static_cast<std::size_t>(cinfo->output_width) * 4;
  const bool started = to->kind == row_destination::strip_rows
                           ? start_block_writer(*writer, *to->ring, to->fd, row_bytes, to->offset)
                           : start_block_writer(*writer, *to->ring, to->stream, options->write_behind, row_bytes);
  if (!started) {
    err->write_failed = true;
    return false;
  }
  jpeg_start_decompress(cinfo);
  if (rows.cropped) start_crop(cinfo, &rows);
  if ((to->kind == row_destination::whole_image &&
       !write_header(*writer, rows.written_components, plan->width, plan->height)) ||
      !write_rows(cinfo, sink, rows, *writer, turned) ||
      (turned != nullptr &&
       !write_turned(turned, rows.width, rows.height, rows.written_components, plan->orientation, *writer))) {
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

}  // namespace

decode_result decode_rows(const jpeg_data &data, const image_plan &plan, const row_destination &to) {
  // In a rebuilt file the region lies higher by the rows left out.
  convert_options options = plan.options;
  trimmed_source source;
  jpeg_bytes in{data.bytes, data.size};
  if (plan.trimmed) {
    options.crop_y -= plan.skipped_rows;
    in.trimmed = &plan.trim;
    in.source = &source;
  }
  std::vector<unsigned char> turned;
  if (plan.orientation != 1) {
    turned.resize(std::size_t{plan.region.width} * plan.region.height * static_cast<unsigned>(plan.components));
  }
  jpeg_decompress_struct cinfo{};
  const decompressor_guard destroy_at_exit{cinfo};
  error_state err{};
  scan_watch watch{};
  start_decompressor(cinfo, err, watch, options);
  // Messages name the image as stored, not the rebuilt one.
  std::memcpy(err.image_size, plan.image_size, sizeof err.image_size);
  block_writer writer;
  bool ok = decode_into(&cinfo, &err, &in, &plan, &options, &to, turned.empty() ? nullptr : turned.data(), &writer);
  // A writer that could not start failed its flush (errno says why);
  // one that started keeps its first write error.
  std::string write_failure = err.write_failed && writer.error == 0 ? write_error_text() : "";
  if (!ok) writer.used = 0;  // a failed image's rows are not written
  if (writer.capacity > 0 && !finish_block_writer(writer) && ok) {
    ok = false;
    err.write_failed = true;
  }
  if (err.write_failed && write_failure.empty()) write_failure = write_error_text(writer.error);
  decode_result result;
  result.ok = ok;
  result.write_failed = err.write_failed;
  result.warnings = err.warnings;
  if (err.write_failed) {
    result.message = write_failure;
  } else if (!ok) {
    result.message = err.message;
  } else if (err.warnings > 0) {
    result.message = err.first_warning;
  }
  return result;
}
