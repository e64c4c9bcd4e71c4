// jpeg2pnm's command line: its option table, and the checks across
// options.
#include "options.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <numeric>
#include <utility>
#include <vector>

#include "command_table.h"
#include "message_text.h"

namespace {

const char about[] =
    "       jpeg2pnm [OPTION]... -d DIR FILE...\n"
    "Decode JPEG images to binary PGM (gray), PPM (colour) or PAM (CMYK).\n"
    "With no FILE, or when FILE is -, read standard input.\n";

const char epilogue[] =
    "Output files go where the shell's > would go: a new file gets the mode a\n"
    "redirection would give it and appears only when complete; an existing\n"
    "file must be writable and is replaced only when the new image is\n"
    "complete, keeping its mode and owner (rewritten in place where a rename\n"
    "cannot replace it: other hard links, a folder this user cannot write,\n"
    "another user's file in a sticky folder); a symbolic link is followed,\n"
    "in a sticky world-writable folder only when this user or the folder's\n"
    "owner owns it; /dev/stdout and /dev/fd/N are that descriptor; a device\n"
    "or FIFO is written directly. An output that is the input file itself is\n"
    "refused.\n"
    "\n"
    "Exit status: 0 every image decoded cleanly; 3 some image had corrupt\n"
    "data (written, with warnings); 1 some image could not be decoded or\n"
    "written (no output file left for it); 2 bad command line.\n";

// WxH+X+Y, each a whole number below 2^31, width and height at least 1.
bool parse_crop(const std::string &text, convert_options &c) {
  unsigned values[4] = {};
  const char separators[] = {'x', '+', '+', '\0'};
  std::size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t start = at;
    std::uint64_t v = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 10) {
      v = v * 10 + static_cast<std::uint64_t>(text[at++] - '0');
    }
    if (at == start || v >= (std::uint64_t{1} << 31)) return false;
    values[i] = static_cast<unsigned>(v);
    if (separators[i] == '\0') {
      if (at != text.size()) return false;
    } else if (at == text.size() || text[at++] != separators[i]) {
      return false;
    }
  }
  if (values[0] == 0 || values[1] == 0) return false;
  c.crop_width = values[0];
  c.crop_height = values[1];
  c.crop_x = values[2];
  c.crop_y = values[3];
  return true;
}

// "3/8 (37.5%)": an eighth as a fraction, in lowest terms, and a percentage.
std::string eighths_text(std::int64_t k) {
  const std::int64_t common = std::gcd(k, std::int64_t{8});
  return std::to_string(k / common) + "/" + std::to_string(8 / common) + " (" + plain_number(12.5 * static_cast<double>(k), 1) + "%)";
}

// The scale as libjpeg scales, by k/8 with k from 1 to 16 and no other
// factor (it would round any other up to the next eighth): M/N as given,
// or a percentage (50%) or a decimal (0.5), as other image tools take it,
// in lowest eighths. Another value gets the nearest ones named.
bool parse_scale(const char *text, unsigned &num, unsigned &denom, std::string &problem) {
  const std::string given = text;
  const char *slash = std::strchr(text, '/');
  std::int64_t m = 0, n = 0;
  double value = 0;
  const bool percent = !given.empty() && given.back() == '%';
  if (slash != nullptr ? !parse_whole(std::string(text, slash), 1, 16, m) || !parse_whole(slash + 1, 1, 16, n)
                       : !parse_decimal(percent ? given.substr(0, given.size() - 1) : given, 0, percent ? 1600 : 16,
                                        true, value)) {
    problem = "M/N, each 1 to 16, a percentage such as 50%, or a decimal such as 0.5";
    return false;
  }
  if (slash != nullptr) value = static_cast<double>(m) / static_cast<double>(n);
  if (percent) value /= 100;
  const double eighths = value * 8;
  const double whole = std::round(eighths);
  if (std::fabs(eighths - whole) < 1e-9 && whole >= 1 && whole <= 16) {
    const auto k = static_cast<std::int64_t>(whole);
    const std::int64_t common = slash != nullptr ? 1 : std::gcd(k, std::int64_t{8});
    num = static_cast<unsigned>(slash != nullptr ? m : k / common);
    denom = static_cast<unsigned>(slash != nullptr ? n : 8 / common);
    return true;
  }
  const auto below = static_cast<std::int64_t>(std::clamp(std::floor(eighths), 1.0, 16.0));
  const auto above = static_cast<std::int64_t>(std::clamp(std::ceil(eighths), 1.0, 16.0));
  problem = "libjpeg scales by k/8 with k from 1 to 16 only; the nearest " +
            (below == above ? "is " + eighths_text(below) : "are " + eighths_text(below) + " and " + eighths_text(above));
  return false;
}

// What an option does with its value: "" or the usage error. The makers
// below give the table's rows their actions, so that each row reads as
// names, value, help and action.
using option_action = std::function<std::string(const std::string &)>;

// A limit: a whole number, 0 for none; `given` notes that it was set.
option_action set_limit(const char *name, std::uint64_t &target, bool *given = nullptr) {
  return [name, &target, given](const std::string &v) {
    std::int64_t count = 0;
    if (!parse_whole(v, 0, INT64_MAX, count)) {
      return "invalid limit " + quoted_value(v) + " for '--" + name + "' (a whole number; 0 for none)";
    }
    target = static_cast<std::uint64_t>(count);
    if (given != nullptr) *given = true;
    return std::string();
  };
}

// One of a few words, each standing for a value; `given` notes that it
// was set.
template <typename Value>
option_action set_choice(const char *what, std::vector<std::pair<const char *, Value>> words, Value &target,
                         bool *given = nullptr) {
  std::string listed;
  for (std::size_t i = 0; i < words.size(); ++i) {
    listed += std::string(i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i].first;
  }
  return [what, words, listed, &target, given](const std::string &v) {
    for (const auto &[word, value] : words) {
      if (v != word) continue;
      target = value;
      if (given != nullptr) *given = true;
      return std::string();
    }
    return invalid_value(what, v, listed.c_str());
  };
}

// The quantiser's passes; the two options exclude each other.
option_action set_passes(convert_options &c, quantiser_passes p) {
  return [&c, p](const std::string &) {
    if (c.passes != quantiser_passes::automatic && c.passes != p) {
      return std::string("--one-pass and --two-pass cannot be used together");
    }
    c.passes = p;
    return std::string();
  };
}

option_action set_scale(convert_options &c) {
  return [&c](const std::string &v) {
    std::string problem;
    if (parse_scale(v.c_str(), c.scale_num, c.scale_denom, problem)) return std::string();
    return "invalid scale " + quoted_value(v) + " (" + problem + ")";
  };
}

option_action set_crop(convert_options &c) {
  return [&c](const std::string &v) {
    if (parse_crop(v, c)) return std::string();
    return "invalid region " + quoted_value(v) + " for '--crop' (WxH+X+Y, e.g. 512x512+100+40)";
  };
}

option_action clear_flag(bool &flag) {
  return [&flag](const std::string &) {
    flag = false;
    return std::string();
  };
}

// jpeg2pnm's options, applied to `result`.
command_form jpeg2pnm_command(parse_result &result) {
  command_line &line = result.line;
  convert_options &c = line.convert;
  return {
      .program = "jpeg2pnm",
      .command = nullptr,
      .synopsis = "[OPTION]... [FILE]",
      .about = about,
      .epilogue = epilogue,
      .options = {
          option_heading("Output"),
          value_option("output", 'o', "OUT", "write to OUT instead of standard output (see below)",
                       take_name("-o", "file", line.output)),
          value_option("directory", 'd', "DIR", "write one file per input into DIR (created if\nmissing), named after the input with .pgm, .ppm\nor .pam",
                       take_name("-d", "folder", line.directory)),
          whole_option("jobs", 'j', "N", "decode N inputs at once, 1 to 1024 (default: one\nper core)",
                       {1, 1024, "job count"}, line.jobs),
          flag_option("quiet", "with several inputs, no progress line and no closing\nline (messages about files still come)", line.quiet),
          flag_option("progress", "with several inputs, the progress line and the closing\nline even when standard error is no terminal", line.progress),
          value_option("icc", 0, "FILE", "also write the embedded ICC profile to FILE (- for\nstandard output, when the image goes to a file)",
                       take_name("--icc", "file", c.icc_path)),
          option_heading("Decoding"),
          flag_option("grayscale", "decode to gray", c.grayscale),
          alias_option("greyscale"),
          whole_option("colors", 0, "N", "quantise to N colours: 2 to 256 for gray output,\n8 to 256 for colour, 16 to 256 for CMYK",
                       {2, 256, "colour count"}, c.colors),
          alias_option("colours", "N"),
          switch_option("one-pass", 0, "quantise with a fixed colormap (gray and CMYK\nalways are)",
                        set_passes(c, quantiser_passes::one)),
          switch_option("two-pass", 0, "quantise with a colormap chosen for the image\n(default for colour output; colour only)",
                        set_passes(c, quantiser_passes::two)),
          value_option("dither", 0, "MODE", "fs (default), ordered or none",
                       set_choice<J_DITHER_MODE>("dither mode", {{"fs", JDITHER_FS}, {"ordered", JDITHER_ORDERED}, {"none", JDITHER_NONE}},
                                     c.dither, &line.dither_given)),
          value_option("scale", 0, "M/N", "scale the output by M/N, one of libjpeg's factors\nk/8 with k from 1 to 16 (1/8, 1/4, 3/8, 1/2, ... 2/1);\n50% and 0.5 mean 1/2",
                       set_scale(c)),
          value_option("dct", 0, "METHOD", "int (default), fast or float",
                       set_choice<J_DCT_METHOD>("DCT method", {{"int", JDCT_ISLOW}, {"fast", JDCT_IFAST}, {"float", JDCT_FLOAT}}, c.dct)),
          switch_option("nosmooth", 0, "no fancy upsampling of chroma",
                        clear_flag(c.fancy_upsampling)),
          flag_option("rgb", "CMYK and YCCK images to RGB (PPM), or with\n--grayscale to gray, instead of ink amounts (PAM)",
                      c.rgb),
          option_heading("Region and orientation"),
          flag_option("auto-orient", "turn the image upright as its EXIF Orientation\nsays (5 to 8 swap width and height); --crop is\nthen in the upright image", c.auto_orient),
          value_option("crop", 0, "WxH+X+Y", "decode only this region of the (scaled) image",
                       set_crop(c)),
          option_heading("Damaged and untrusted files"),
          flag_option("strict", "fail an image at its first corrupt-data warning", c.strict),
          value_option("max-pixels", 0, "N", "refuse images of more than N pixels as decoded\n(default 268435456, 16384x16384; 0 for no limit)",
                       set_limit("max-pixels", c.max_pixels, &c.max_pixels_given)),
          value_option("max-memory", 0, "MIB", "refuse images whose decode needs more than MIB MiB\nof working memory (default 2560, enough for every\nimage within the pixel limit; 0 for no limit)",
                       set_limit("max-memory", c.max_memory_mib)),
          value_option("max-scans", 0, "N", "refuse images of more than N scans (default 100;\n0 for no limit)",
                       set_limit("max-scans", c.max_scans)),
          value_option("max-input", 0, "MIB", "read at most MIB MiB of an input (default: 8 bytes\nfor each pixel --max-pixels allows, 2048; 0 for\nno limit)",
                       set_limit("max-input", c.max_input_mib)),
          flag_option("allow-truncated", "decode a file whose data is too short for its\nimage as far as it goes (refused by default)",
                      c.allow_truncated),
      },
      .has_version = true};
}

// True when `path`'s extension names an image format jpeg2pnm does not
// write: writing PNM data under it would mislead every program that
// trusts the name.
bool names_another_format(const std::string &path) {
  static const char *const others[] = {"png", "jpg",  "jpeg", "jpe", "jfif", "jxl", "jp2", "j2k", "gif",
                                       "bmp", "tif",  "tiff", "webp", "heic", "heif", "avif", "ico", "tga",
                                       "psd", "exr",  "hdr", "pbm", "xpm", "xbm", "svg", "pcx", "dng"};
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == path.size()) return false;
  std::string extension = path.substr(dot + 1);
  for (char &ch : extension) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
  for (const char *other : others) {
    if (extension == other) return true;
  }
  return false;
}

parse_result malformed(std::string message) {
  parse_result r;
  r.outcome = command_outcome::usage_error;
  r.error = std::move(message);
  return r;
}

}  // namespace

std::string usage_text() {
  parse_result unused;
  return help_text(jpeg2pnm_command(unused));
}

parse_result parse_command_line(int argc, char **argv) {
  parse_result result;
  const parsed_command parsed = parse_command(jpeg2pnm_command(result), argc, argv);
  if (parsed.outcome == command_outcome::usage_error) return malformed(parsed.error);
  if (parsed.outcome != command_outcome::run) {
    result.outcome = parsed.outcome;
    return result;
  }
  command_line &line = result.line;
  convert_options &c = line.convert;
  line.inputs = parsed.operands;
  if (line.directory.empty() && line.inputs.size() > 1) {
    return malformed("several inputs need -d DIR");
  }
  if (!line.directory.empty() && !line.output.empty()) {
    return malformed("-o and -d cannot be used together");
  }
  if (!line.directory.empty() && !c.icc_path.empty()) {
    return malformed("--icc writes one profile: use it without -d");
  }
  if (names_another_format(line.output)) {
    return malformed("-o " + quoted_value(line.output) +
                       " names another image format; jpeg2pnm writes .pnm, .ppm, .pgm, .pam, or no extension");
  }
  const bool image_to_stdout = line.directory.empty() && (line.output.empty() || line.output == "-");
  if (c.icc_path == "-" && image_to_stdout) {
    return malformed("--icc - and the image would both go to standard output; give -o FILE or --icc FILE");
  }
  if (!c.icc_path.empty() && c.icc_path == line.output) {
    return malformed("--icc and -o name the same file; give the profile a file of its own");
  }
  if (c.colors == 0 && (c.passes != quantiser_passes::automatic || line.dither_given)) {
    return malformed(std::string(c.passes == quantiser_passes::one   ? "--one-pass"
                                   : c.passes == quantiser_passes::two ? "--two-pass"
                                                                       : "--dither") +
                       " has no effect without --colors N");
  }
  if (line.inputs.empty()) line.inputs.emplace_back("-");
  return result;
}

std::string crop_outside(const convert_options &o, unsigned width, unsigned height, const std::string &image) {
  const std::string crop = "--crop " + std::to_string(o.crop_width) + "x" + std::to_string(o.crop_height) + "+" +
                           std::to_string(o.crop_x) + "+" + std::to_string(o.crop_y);
  if (o.crop_x >= width || o.crop_y >= height) {
    return crop + " starts outside " + image + " (X from 0 to " + std::to_string(width - 1) + ", Y from 0 to " +
           std::to_string(height - 1) + ")";
  }
  const bool right = std::uint64_t{o.crop_x} + o.crop_width > width;
  const bool bottom = std::uint64_t{o.crop_y} + o.crop_height > height;
  if (!right && !bottom) return "";
  const unsigned w = right ? width - o.crop_x : o.crop_width, h = bottom ? height - o.crop_y : o.crop_height;
  return crop + " passes the " + (right && bottom ? "right and bottom edges" : right ? "right edge" : "bottom edge") +
         " of " + image + "; --crop " + std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(o.crop_x) +
         "+" + std::to_string(o.crop_y) + " fits there";
}
