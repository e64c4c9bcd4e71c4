// Setting a decompressor up as the options ask, for the plan and the
// decode alike.
#include "decode_setup.h"

#include <cstdarg>
#include <cstdlib>
#include <string>

#include <jerror.h>

#include "image_limits.h"

namespace {

const char *kind_of_output(int components) {
  return components == 1 ? "gray" : components == 3 ? "colour" : "CMYK";
}

bool refuse_with(char *message, std::size_t size, const char *format, ...) __attribute__((format(printf, 3, 4)));

bool refuse_with(char *message, std::size_t size, const char *format, ...) {
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
      return refuse_with(message, size,
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
      return refuse_with(message, size,
                    "--two-pass: %s output is quantised in one pass only; leave out --two-pass",
                    kind_of_output(components));
    }
    const int fewest = components == 1 ? 2 : components == 3 ? 8 : 16;
    if (o.colors < fewest) {
      return refuse_with(message, size, "--colors %d: %s output needs at least %d colours",
                    o.colors, kind_of_output(components), fewest);
    }
    const bool two_pass = components == 3 && o.passes != quantiser_passes::one;
    if (two_pass && o.crop_width > 0) {
      return refuse_with(message, size,
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
    if (!outside.empty()) return refuse_with(message, size, "%s", outside.c_str());
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

}  // namespace

bool read_and_check(j_decompress_ptr cinfo, error_state *err, const jpeg_bytes &in, const convert_options &options,
                    bool keep_icc_profile, row_plan *plan) {
  if (in.trimmed != nullptr) {
    read_trimmed_jpeg(cinfo, *in.source, *in.trimmed);
  } else {
    jpeg_mem_src(cinfo, in.data, static_cast<unsigned long>(in.size));
  }
  if (keep_icc_profile) jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);
  if (!set_output_parameters(cinfo, options, err, plan)) return false;
  if (err->image_size[0] == '\0') {
    std::snprintf(err->image_size, sizeof err->image_size, "%ux%u", cinfo->output_width,
                  cinfo->output_height);
  }
  // The header has been read: what is left is the image data.
  const std::uint64_t data_bytes =
      in.trimmed != nullptr ? trimmed_bytes_left(*in.source) : cinfo->src->bytes_in_buffer;
  if (!check_limits(cinfo, data_bytes, options, err)) return false;
  const int components = plan->decoded_components;
  if (components != 1 && components != 3 && components != 4) ERREXIT(cinfo, JERR_CONVERSION_NOTIMPL);
  return true;
}

bool take_icc_profile(j_decompress_ptr cinfo, std::vector<unsigned char> *profile) {
  JOCTET *data = nullptr;
  unsigned int length = 0;
  if (!jpeg_read_icc_profile(cinfo, &data, &length)) return false;
  profile->assign(data, data + length);
  std::free(data);
  return true;
}

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

