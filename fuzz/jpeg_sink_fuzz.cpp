// Feeds arbitrary bytes as a JPEG file through the row sink. The first
// byte picks the output mode: gray, RGB, one- or two-pass quantised,
// quantised gray, or scaled, and (bit 7) a crop of columns and rows taken
// with jpeg_crop_scanline and jpeg_skip_scanlines; the rest is the file.
// jpeg2pnm's limits (scans, working memory) refuse what they would refuse;
// with bit 6 the file is first trimmed to start at a restart interval, as
// jpeg2pnm does for crops far down.
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jerror.h>

#include "plan/image_limits.h"
#include "input/restart_trim.h"
#include "tamlo_jpeg.h"

namespace {

struct fuzz_error {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void jump_on_error(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<fuzz_error *>(cinfo->err)->jump, 1);
}

void ignore_message(j_common_ptr, int) {}

// Progressive files can hold any number of scans; stop absurd ones early.
void limit_scans(j_common_ptr cinfo) {
  auto *d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->is_decompressor && d->input_scan_number > 100) (*cinfo->err->error_exit)(cinfo);
}

constexpr unsigned long max_pixels = 1u << 20;

void set_mode(j_decompress_ptr cinfo, unsigned mode) {
  switch (mode % 7) {
    case 0: cinfo->out_color_space = JCS_GRAYSCALE; break;
    case 1: break;  // libjpeg's default: RGB for colour, gray for gray
    case 2:
      cinfo->quantize_colors = TRUE;
      cinfo->two_pass_quantize = FALSE;
      cinfo->desired_number_of_colors = 2 + static_cast<int>(mode >> 3) * 8;
      cinfo->dither_mode = static_cast<J_DITHER_MODE>((mode >> 3) % 3);
      break;
    case 3:
      cinfo->quantize_colors = TRUE;
      cinfo->two_pass_quantize = cinfo->num_components == 3 ? TRUE : FALSE;
      cinfo->desired_number_of_colors = 256;
      break;
    case 4:
      cinfo->out_color_space = JCS_GRAYSCALE;
      cinfo->quantize_colors = TRUE;
      cinfo->desired_number_of_colors = 4;
      break;
    case 5:
      cinfo->scale_num = 1 + (mode >> 3) % 16;
      cinfo->scale_denom = 8;
      break;
    default:
      cinfo->dct_method = JDCT_IFAST;
      cinfo->do_fancy_upsampling = FALSE;
      break;
  }
}

// Only trivially destructible objects live here, since a fatal libjpeg
// error longjmps back to the setjmp below.
void decode(const std::uint8_t *data, std::size_t size, unsigned mode) {
  jpeg_decompress_struct cinfo;
  fuzz_error err;
  jpeg_progress_mgr progress;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jump_on_error;
  err.pub.emit_message = ignore_message;
  jpeg_create_decompress(&cinfo);
  progress.progress_monitor = limit_scans;
  cinfo.progress = &progress;
  if (setjmp(err.jump) == 0) {
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    if (static_cast<unsigned long>(cinfo.image_width) * cinfo.image_height <= max_pixels) {
      set_mode(&cinfo, mode);
      jpeg_calc_output_dimensions(&cinfo);
      if (whole_image_memory(&cinfo) > (std::uint64_t{64} << 20)) ERREXIT(&cinfo, JERR_OUT_OF_MEMORY);
      ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(&cinfo);
      jpeg_start_decompress(&cinfo);
      const bool crop = (mode & 0x80) != 0 && !cinfo.two_pass_quantize && cinfo.output_width > 1;
      if (crop) {
        // Columns and rows from the size of the data: any region in the image.
        JDIMENSION x = static_cast<JDIMENSION>(size * 7919 % cinfo.output_width);
        JDIMENSION width = 1 + static_cast<JDIMENSION>(size % (cinfo.output_width - x));
        jpeg_crop_scanline(&cinfo, &x, &width);
        jpeg_skip_scanlines(&cinfo, static_cast<JDIMENSION>(size % cinfo.output_height));
      }
      // Exactly the row as it stands, so that any overrun shows.
      const std::size_t row_bytes = static_cast<std::size_t>(cinfo.output_width) *
                                    static_cast<std::size_t>(cinfo.out_color_components);
      // From the image pool, so a longjmp leaks nothing.
      auto *row = static_cast<unsigned char *>((*cinfo.mem->alloc_small)(
          reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, row_bytes));
      sink->start_output(&cinfo, sink);
      while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION n =
            jpeg_read_scanlines(&cinfo, sink->sample_rows, sink->sample_row_count);
        if (n > 0) sink->put_pixel_rows(&cinfo, sink, n, row);
      }
      sink->finish_output(&cinfo, sink);
      jpeg_finish_decompress(&cinfo);
    }
  }
  jpeg_destroy_decompress(&cinfo);
}

// The frame as libjpeg reads it, which a rebuild must agree with; false
// when libjpeg cannot read the header.
bool frame_read_by_libjpeg(const std::uint8_t *data, std::size_t size, frame_as_read &frame) {
  jpeg_decompress_struct cinfo;
  fuzz_error err;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = jump_on_error;
  err.pub.emit_message = ignore_message;
  jpeg_create_decompress(&cinfo);
  bool read = false;
  if (setjmp(err.jump) == 0) {
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    frame.width = cinfo.image_width;
    frame.height = cinfo.image_height;
    frame.components = static_cast<unsigned>(cinfo.num_components);
    frame.max_h = static_cast<unsigned>(cinfo.max_h_samp_factor);
    frame.max_v = static_cast<unsigned>(cinfo.max_v_samp_factor);
    frame.restart_interval = cinfo.restart_interval;
    read = true;
  }
  jpeg_destroy_decompress(&cinfo);
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  const unsigned mode = data[0];
  if ((mode & 0x40) != 0) {
    trimmed_jpeg trimmed;
    frame_as_read frame;
    if (frame_read_by_libjpeg(data + 1, size - 1, frame) &&
        trim_rows_above(data + 1, size - 1, static_cast<unsigned>(size * 31 % 4096), frame, trimmed)) {
      std::vector<unsigned char> rebuilt(trimmed.size);
      rebuilt.resize(read_trimmed(trimmed, 0, rebuilt.data(), rebuilt.size()));
      decode(rebuilt.data(), rebuilt.size(), mode);
      return 0;
    }
  }
  decode(data + 1, size - 1, mode);
  return 0;
}
