#include "options.h"

#include "message_text.h"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

const char usage_text[] =
    "Usage: jpeg2pnm [OPTION]... [FILE]\n"
    "       jpeg2pnm [OPTION]... -d DIR FILE...\n"
    "Decode JPEG images to binary PGM (gray), PPM (colour) or PAM (CMYK).\n"
    "With no FILE, or when FILE is -, read standard input.\n"
    "\n"
    "  -o, --output=OUT      write to OUT instead of standard output (see below)\n"
    "  -d, --directory=DIR   write one file per input into DIR (created if\n"
    "                        missing), named after the input with .pgm, .ppm\n"
    "                        or .pam\n"
    "  -j, --jobs=N          decode N inputs at once, 1 to 1024 (default: one\n"
    "                        per core)\n"
    "      --grayscale       decode to gray\n"
    "      --colors=N        quantise to N colours: 2 to 256 for gray output,\n"
    "                        8 to 256 for colour, 16 to 256 for CMYK\n"
    "      --one-pass        quantise with a fixed colormap (gray and CMYK\n"
    "                        always are)\n"
    "      --two-pass        quantise with a colormap chosen for the image\n"
    "                        (default for colour output; colour only)\n"
    "      --dither=MODE     fs (default), ordered or none\n"
    "      --scale=M/N       scale the output by M/N, one of libjpeg's factors\n"
    "                        k/8 with k from 1 to 16 (1/8, 1/4, 3/8, 1/2, ... 2/1)\n"
    "      --dct=METHOD      int (default), fast or float\n"
    "      --nosmooth        no fancy upsampling of chroma\n"
    "      --rgb             CMYK and YCCK images to RGB (PPM), or with\n"
    "                        --grayscale to gray, instead of ink amounts (PAM)\n"
    "      --crop=WxH+X+Y    decode only this region of the (scaled) image\n"
    "      --icc=FILE        also write the embedded ICC profile to FILE\n"
    "      --strict          fail an image at its first corrupt-data warning\n"
    "      --max-pixels=N    refuse images of more than N pixels as decoded\n"
    "                        (default 268435456, 16384x16384; 0 for no limit)\n"
    "      --max-memory=MIB  refuse images whose decode needs more than MIB MiB\n"
    "                        of working memory (default 2560, enough for every\n"
    "                        image within the pixel limit; 0 for no limit)\n"
    "      --max-scans=N     refuse images of more than N scans (default 100;\n"
    "                        0 for no limit)\n"
    "      --max-input=MIB   read at most MIB MiB of an input (default: 8 bytes\n"
    "                        for each pixel --max-pixels allows, 2048; 0 for\n"
    "                        no limit)\n"
    "      --allow-truncated decode a file whose data is too short for its\n"
    "                        image as far as it goes (refused by default)\n"
    "      --help            show this help and exit\n"
    "      --version         show the version and exit\n"
    "\n"
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

namespace {

enum long_only : int {
  opt_grayscale = 256,
  opt_colors,
  opt_one_pass,
  opt_two_pass,
  opt_dither,
  opt_scale,
  opt_dct,
  opt_nosmooth,
  opt_help,
  opt_version,
  opt_rgb,
  opt_max_pixels,
  opt_max_memory,
  opt_max_scans,
  opt_max_input,
  opt_allow_truncated,
  opt_strict,
  opt_crop,
  opt_icc,
};

const option long_options[] = {
    {"output", required_argument, nullptr, 'o'},
    {"directory", required_argument, nullptr, 'd'},
    {"jobs", required_argument, nullptr, 'j'},
    {"grayscale", no_argument, nullptr, opt_grayscale},
    {"greyscale", no_argument, nullptr, opt_grayscale},
    {"colors", required_argument, nullptr, opt_colors},
    {"colours", required_argument, nullptr, opt_colors},
    {"one-pass", no_argument, nullptr, opt_one_pass},
    {"two-pass", no_argument, nullptr, opt_two_pass},
    {"dither", required_argument, nullptr, opt_dither},
    {"scale", required_argument, nullptr, opt_scale},
    {"dct", required_argument, nullptr, opt_dct},
    {"nosmooth", no_argument, nullptr, opt_nosmooth},
    {"help", no_argument, nullptr, opt_help},
    {"version", no_argument, nullptr, opt_version},
    {"rgb", no_argument, nullptr, opt_rgb},
    {"max-pixels", required_argument, nullptr, opt_max_pixels},
    {"max-memory", required_argument, nullptr, opt_max_memory},
    {"max-scans", required_argument, nullptr, opt_max_scans},
    {"max-input", required_argument, nullptr, opt_max_input},
    {"allow-truncated", no_argument, nullptr, opt_allow_truncated},
    {"strict", no_argument, nullptr, opt_strict},
    {"crop", required_argument, nullptr, opt_crop},
    {"icc", required_argument, nullptr, opt_icc},
    {nullptr, 0, nullptr, 0},
};

// A whole decimal number from `low` to `high`, nothing else.
bool parse_number(const char *text, long low, long high, long &value) {
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char *end = nullptr;
  value = std::strtol(text, &end, 10);
  return errno == 0 && *end == '\0' && value >= low && value <= high;
}

// A whole decimal number of up to 18 digits, nothing else.
bool parse_count(const std::string &text, std::uint64_t &value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

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

// M/N as libjpeg scales: by k/8 with k from 1 to 16, and no other factor
// (it would round any other up to the next eighth).
bool parse_scale(const char *text, unsigned &num, unsigned &denom, std::string &problem) {
  const char *slash = std::strchr(text, '/');
  long m = 0, n = 0;
  if (slash == nullptr || !parse_number(std::string(text, slash).c_str(), 1, 16, m) ||
      !parse_number(slash + 1, 1, 16, n)) {
    problem = "M/N, each 1 to 16";
    return false;
  }
  if ((8 * m) % n != 0 || 8 * m / n > 16) {
    const long eighths = std::min(16L, (8 * m + n - 1) / n);
    problem = "libjpeg scales by k/8 with k from 1 to 16 only; it would decode at " +
              std::to_string(eighths) + "/8";
    return false;
  }
  num = static_cast<unsigned>(m);
  denom = static_cast<unsigned>(n);
  return true;
}

parse_result usage_error(std::string message) {
  parse_result r;
  r.outcome = parse_outcome::usage_error;
  r.error = std::move(message);
  return r;
}

}  // namespace

parse_result parse_command_line(int argc, char **argv) {
  parse_result result;
  command_line &line = result.line;
  convert_options &c = line.convert;
  bool dither_given = false;
  optind = 0;  // start afresh: glibc re-initialises on 0
  opterr = 0;  // messages are ours
  for (;;) {
    int index = 0;
    const int opt = getopt_long(argc, argv, ":o:d:j:", long_options, &index);
    if (opt == -1) break;
    const std::string value = optarg ? optarg : "";
    long number = 0;
    switch (opt) {
      case 'o':
        if (value.empty()) return usage_error("option '-o' needs a file name, not ''");
        line.output = value;
        break;
      case 'd':
        if (value.empty()) return usage_error("option '-d' needs a folder name, not ''");
        line.directory = value;
        break;
      case 'j':
        if (!parse_number(value.c_str(), 1, 1024, number)) {
          return usage_error("invalid job count " + quoted_value(value) + " (1 to 1024)");
        }
        line.jobs = static_cast<unsigned>(number);
        break;
      case opt_grayscale: c.grayscale = true; break;
      case opt_colors:
        if (!parse_number(value.c_str(), 2, 256, number)) {
          return usage_error("invalid colour count " + quoted_value(value) + " (2 to 256)");
        }
        c.colors = static_cast<int>(number);
        break;
      case opt_one_pass:
      case opt_two_pass:
        if (c.passes != quantiser_passes::automatic &&
            c.passes != (opt == opt_one_pass ? quantiser_passes::one : quantiser_passes::two)) {
          return usage_error("--one-pass and --two-pass cannot be used together");
        }
        c.passes = opt == opt_one_pass ? quantiser_passes::one : quantiser_passes::two;
        break;
      case opt_dither:
        dither_given = true;
        if (value == "fs") c.dither = JDITHER_FS;
        else if (value == "ordered") c.dither = JDITHER_ORDERED;
        else if (value == "none") c.dither = JDITHER_NONE;
        else return usage_error("invalid dither mode " + quoted_value(value) + " (fs, ordered or none)");
        break;
      case opt_scale: {
        std::string problem;
        if (!parse_scale(value.c_str(), c.scale_num, c.scale_denom, problem)) {
          return usage_error("invalid scale " + quoted_value(value) + " (" + problem + ")");
        }
        break;
      }
      case opt_dct:
        if (value == "int") c.dct = JDCT_ISLOW;
        else if (value == "fast") c.dct = JDCT_IFAST;
        else if (value == "float") c.dct = JDCT_FLOAT;
        else return usage_error("invalid DCT method " + quoted_value(value) + " (int, fast or float)");
        break;
      case opt_nosmooth: c.fancy_upsampling = false; break;
      case opt_rgb: c.rgb = true; break;
      case opt_max_pixels:
      case opt_max_memory:
      case opt_max_scans:
      case opt_max_input: {
        std::uint64_t count = 0;
        if (!parse_count(value, count)) {
          return usage_error("invalid limit " + quoted_value(value) + " for '--" +
                             long_options[index].name + "' (a whole number; 0 for none)");
        }
        (opt == opt_max_pixels   ? c.max_pixels
         : opt == opt_max_memory ? c.max_memory_mib
         : opt == opt_max_scans  ? c.max_scans
                                 : c.max_input_mib) = count;
        break;
      }
      case opt_strict: c.strict = true; break;
      case opt_allow_truncated: c.allow_truncated = true; break;
      case opt_crop:
        if (!parse_crop(value, c)) {
          return usage_error("invalid region " + quoted_value(value) +
                             " for '--crop' (WxH+X+Y, e.g. 512x512+100+40)");
        }
        break;
      case opt_icc:
        if (value.empty()) return usage_error("option '--icc' needs a file name, not ''");
        c.icc_path = value;
        break;
      case opt_help: result.outcome = parse_outcome::help; return result;
      case opt_version: result.outcome = parse_outcome::version; return result;
      default:
        return usage_error(option_error(argv, long_options, opt));
    }
  }
  for (int i = optind; i < argc; ++i) line.inputs.emplace_back(argv[i]);
  if (line.directory.empty() && line.inputs.size() > 1) {
    return usage_error("several inputs need -d DIR");
  }
  if (!line.directory.empty() && !line.output.empty()) {
    return usage_error("-o and -d cannot be used together");
  }
  if (!line.directory.empty() && !c.icc_path.empty()) {
    return usage_error("--icc writes one profile: use it without -d");
  }
  const bool image_to_stdout = line.directory.empty() && (line.output.empty() || line.output == "-");
  if (c.icc_path == "-" && image_to_stdout) {
    return usage_error("--icc - and the image would both go to standard output; give -o FILE or --icc FILE");
  }
  if (!c.icc_path.empty() && c.icc_path == line.output) {
    return usage_error("--icc and -o name the same file; give the profile a file of its own");
  }
  if (c.colors == 0 && (c.passes != quantiser_passes::automatic || dither_given)) {
    return usage_error(std::string(c.passes == quantiser_passes::one   ? "--one-pass"
                                   : c.passes == quantiser_passes::two ? "--two-pass"
                                                                       : "--dither") +
                       " has no effect without --colors N");
  }
  if (line.inputs.empty()) line.inputs.emplace_back("-");
  return result;
}
