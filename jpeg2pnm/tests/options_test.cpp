#include "options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

parse_result parse(std::vector<std::string> words) {
  words.insert(words.begin(), "jpeg2pnm");
  std::vector<char *> argv;
  for (auto &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return parse_command_line(static_cast<int>(words.size()), argv.data());
}

TEST(command_line, values_reach_the_decoder_settings) {
  const auto r = parse({"--grayscale", "--colors=17", "--one-pass", "--dither", "ordered",
                        "--scale", "3/4", "--dct=float", "--nosmooth", "-o", "x.pgm", "in.jpg"});
  ASSERT_EQ(r.outcome, command_outcome::run) << r.error;
  const convert_options &c = r.line.convert;
  EXPECT_TRUE(c.grayscale);
  EXPECT_EQ(c.colors, 17);
  EXPECT_EQ(c.passes, quantiser_passes::one);
  EXPECT_EQ(c.dither, JDITHER_ORDERED);
  EXPECT_EQ(c.scale_num, 3u);
  EXPECT_EQ(c.scale_denom, 4u);
  EXPECT_EQ(c.dct, JDCT_FLOAT);
  EXPECT_FALSE(c.fancy_upsampling);
  EXPECT_EQ(r.line.output, "x.pgm");
  EXPECT_EQ(r.line.inputs, std::vector<std::string>{"in.jpg"});
  EXPECT_FALSE(c.max_pixels_given);
  EXPECT_TRUE(parse({"--max-pixels=0"}).line.convert.max_pixels_given);
  // The spellings of other image tools mean libjpeg's factors.
  for (const char *half : {"1/2", "50%", "0.5", "4/8", "50.0%"}) {
    const convert_options o = parse({"--scale", half}).line.convert;
    EXPECT_EQ(8 * o.scale_num / o.scale_denom, 4u) << half;
  }
  EXPECT_EQ(parse({"--scale=1"}).line.convert.scale_num, 1u);
  // Every value of 19 digits below 2^63, leading zeros as well.
  EXPECT_EQ(parse({"--max-memory=9223372036854775807"}).line.convert.max_memory_mib, 9223372036854775807u);
  EXPECT_EQ(parse({"--max-memory=00000000000000000000042"}).line.convert.max_memory_mib, 42u);
}

TEST(command_line, no_input_means_standard_input) {
  const auto r = parse({});
  ASSERT_EQ(r.outcome, command_outcome::run);
  EXPECT_EQ(r.line.inputs, std::vector<std::string>{"-"});
}

TEST(command_line, bad_values_are_usage_errors) {
  const struct {
    std::vector<std::string> words;
    const char *error;
  } cases[] = {
      {{"--colors=1"}, "invalid colour count '1' (2 to 256)"},
      {{"--colors=257"}, "invalid colour count '257' (2 to 256)"},
      {{"--colors=12x"}, "invalid colour count '12x' (2 to 256)"},
      {{"--colors=-3"}, "invalid colour count '-3' (2 to 256)"},
      {{"--colors=+16"}, "invalid colour count '+16' (2 to 256)"},
      {{"--colors=0x10"}, "invalid colour count '0x10' (2 to 256)"},
      {{"--colors= 16"}, "invalid colour count ' 16' (2 to 256)"},
      {{"--max-scans=-0"}, "invalid limit '-0' for '--max-scans' (a whole number; 0 for none)"},
      {{"--max-scans=+5"}, "invalid limit '+5' for '--max-scans' (a whole number; 0 for none)"},
      {{"-o", "photo.png", "in.jpg"},
       "-o 'photo.png' names another image format; jpeg2pnm writes .pnm, .ppm, .pgm, .pam, or no extension"},
      {{"-o", "out/Photo.JPG", "in.jpg"},
       "-o 'out/Photo.JPG' names another image format; jpeg2pnm writes .pnm, .ppm, .pgm, .pam, or no extension"},
      {{"--dither=floyd"}, "invalid dither mode 'floyd' (fs, ordered or none)"},
      {{"--scale=half"}, "invalid scale 'half' (M/N, each 1 to 16, a percentage such as 50%, or a decimal such as 0.5)"},
      {{"--scale=0/8"}, "invalid scale '0/8' (M/N, each 1 to 16, a percentage such as 50%, or a decimal such as 0.5)"},
      {{"--scale=1/"}, "invalid scale '1/' (M/N, each 1 to 16, a percentage such as 50%, or a decimal such as 0.5)"},
      {{"--scale=60%"},
       "invalid scale '60%' (libjpeg scales by k/8 with k from 1 to 16 only; the nearest are 1/2 (50%) and 5/8 (62.5%))"},
      {{"--scale=0.1"}, "invalid scale '0.1' (libjpeg scales by k/8 with k from 1 to 16 only; the nearest is 1/8 (12.5%))"},
      {{"--scale=3"}, "invalid scale '3' (libjpeg scales by k/8 with k from 1 to 16 only; the nearest is 2/1 (200%))"},
      {{"--dct=slow"}, "invalid DCT method 'slow' (int, fast or float)"},
      {{"--dct=Int"}, "invalid DCT method 'Int' (int, fast or float)"},
      {{"--crop=0x5+0+0"}, "invalid region '0x5+0+0' for '--crop' (WxH+X+Y, e.g. 512x512+100+40)"},
      {{"--max-pixels=1e6"}, "invalid limit '1e6' for '--max-pixels' (a whole number; 0 for none)"},
      {{"--max-memory=9223372036854775808"},
       "invalid limit '9223372036854775808' for '--max-memory' (a whole number; 0 for none)"},
      {{"-o", "", "in.jpg"}, "option '-o' needs a file name, not ''"},
      {{"--icc=", "-o", "x", "in.jpg"}, "option '--icc' needs a file name, not ''"},
      {{"--colors=8", "--one-pass", "--two-pass"}, "--one-pass and --two-pass cannot be used together"},
      {{"--dither=none"}, "--dither has no effect without --colors N"},
      {{"-j", "0", "-d", "d", "a"}, "invalid job count '0' (1 to 1024)"},
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"-x"}, "unknown option '-x'"},
      {{"-o"}, "option '-o' needs a value"},
      {{"a.jpg", "b.jpg"}, "several inputs need -d DIR"},
      {{"-d", "d", "-o", "x", "a.jpg"}, "-o and -d cannot be used together"},
  };
  for (const auto &c : cases) {
    const auto r = parse(c.words);
    EXPECT_EQ(r.outcome, command_outcome::usage_error) << c.error;
    EXPECT_EQ(r.error, c.error);
  }
}

TEST(command_line, help_and_version) {
  EXPECT_EQ(parse({"--help"}).outcome, command_outcome::help);
  EXPECT_EQ(parse({"--version", "x"}).outcome, command_outcome::version);
}

}  // namespace
