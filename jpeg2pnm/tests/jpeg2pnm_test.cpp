// Runs the built jpeg2pnm on generated JPEG files and checks the files it
// writes against a plain libjpeg decode.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "jpeg_fixtures.h"
#include "pnm_file.h"
#include "program_test.h"
#include "reference_decode.h"

namespace {

namespace fs = std::filesystem;

struct run_result {
  int status;
  std::string err;
};

class jpeg2pnm_program : public program_test {
 protected:
  run_result run(const std::string &arguments) {
    const int status = shell(std::string(JPEG2PNM_PATH) + " " + arguments + " 2>" +
                             (dir_ / "stderr").string());
    return {status, slurp(dir_ / "stderr")};
  }

  fs::path jpeg(const std::string &name, const image_recipe &recipe) {
    const fs::path p = dir_ / name;
    write_file(p, encode_jpeg(recipe));
    return p;
  }
};

// A 4:2:0 image of odd size; gray or CMYK with other `components`.
image_recipe colour_recipe(int components = 3) {
  image_recipe s;
  s.components = components;
  s.width = 37;
  s.height = 23;
  s.h_sampling = s.v_sampling = 2;
  return s;
}

TEST_F(jpeg2pnm_program, each_output_type_matches_a_plain_decode) {
  const image_recipe gray = colour_recipe(1), cmyk = colour_recipe(4);
  const struct {
    const char *what;
    image_recipe recipe;
    std::string options;
    decode_mode mode;
    const char *magic;
  } cases[] = {
      {"colour to PPM", colour_recipe(), "", {}, "P6"},
      {"gray to PGM", gray, "", {}, "P5"},
      {"CMYK to PAM", cmyk, "", {}, "P7"},
      {"colour to gray", colour_recipe(), "--grayscale", {.name = "", .out_space = JCS_GRAYSCALE}, "P5"},
      {"two-pass quantised", colour_recipe(), "--colors 20", {.name = "", .colors = 20, .two_pass = true}, "P6"},
      {"one-pass ordered", colour_recipe(), "--colors=9 --one-pass --dither ordered",
       {.name = "", .colors = 9, .dither = JDITHER_ORDERED}, "P6"},
      {"quantised gray", gray, "--colors 4 --dither none", {.name = "", .colors = 4, .dither = JDITHER_NONE}, "P5"},
      {"quantised CMYK", cmyk, "--colors 16", {.name = "", .colors = 16}, "P7"},
      {"scaled, fast DCT, no smoothing", colour_recipe(), "--scale 1/2 --dct fast --nosmooth",
       {.name = "", .scale_num = 4, .dct = JDCT_IFAST, .fancy_upsampling = false}, "P6"},
      {"float DCT", colour_recipe(), "--dct=float", {.name = "", .dct = JDCT_FLOAT}, "P6"},
  };
  for (const auto &c : cases) {
    const fs::path in = jpeg("in.jpg", c.recipe);
    const fs::path out = dir_ / "out.pnm";
    const auto r = run(c.options + " -o " + out.string() + " " + in.string());
    ASSERT_EQ(r.status, 0) << c.what << ": " << r.err;
    EXPECT_EQ(r.err, "") << c.what;
    const pnm_image img = parse_pnm(read_file(out));
    const decoded_image expected = decode_plain(read_file(in), c.mode);
    EXPECT_EQ(img.magic, c.magic) << c.what;
    EXPECT_EQ(img.width, expected.width) << c.what;
    EXPECT_EQ(img.height, expected.height) << c.what;
    EXPECT_EQ(img.depth, static_cast<unsigned>(expected.components)) << c.what;
    std::vector<unsigned char> pixels = expected.pixels;
    if (img.magic == "P7") {
      EXPECT_EQ(img.tuple_type, "CMYK");
      // libjpeg's compressor marks CMYK files as Adobe's (255: no ink);
      // PAM holds ink amounts.
      for (auto &p : pixels) p = static_cast<unsigned char>(255 - p);
    }
    EXPECT_TRUE(img.pixels == pixels) << c.what;
  }
}

// A batch on a terminal shows one line that counts the files, cleared at
// the end and followed by a closing line; messages about files stay lines
// of their own. A real pseudo-terminal, through script(1).
TEST_F(jpeg2pnm_program, batches_show_progress_on_a_terminal) {
  if (shell("command -v script >/dev/null") != 0) GTEST_SKIP() << "script(1) is not installed: no pseudo-terminal";
  fs::create_directory(dir_ / "in");
  for (int i = 0; i < 11; ++i) jpeg("in/" + std::to_string(i) + ".jpg", colour_recipe());
  std::vector<unsigned char> damaged = encode_jpeg(colour_recipe());
  // The image's end in the middle of its data, past the scan's header.
  std::size_t data = damaged.size() - 2;
  while (data > 0 && !(damaged[data] == 0xFF && damaged[data + 1] == 0xDA)) --data;
  const std::size_t end = (data + damaged.size()) / 2;
  damaged[end] = 0xFF;
  damaged[end + 1] = 0xD9;
  write_file(dir_ / "in" / "damaged.jpg", damaged);
  write_file(dir_ / "in" / "broken.jpg", std::string("\xFF\xD8 no image"));
  const std::string batch = std::string(JPEG2PNM_PATH) + " -j 2 -d " + (dir_ / "out").string() + " " +
                            (dir_ / "in").string() + "/*.jpg";
  const std::string failed = "jpeg2pnm: " + (dir_ / "in" / "broken.jpg").string() + ": ";
  const struct {
    std::string command;
    bool terminal, progress;
  } cases[] = {
      {batch, true, true},
      {batch + " --quiet", true, false},
      {batch, false, false},
      {batch + " --progress", false, true},
      {std::string(JPEG2PNM_PATH) + " -o " + (dir_ / "one.ppm").string() + " " + (dir_ / "in" / "0.jpg").string(), true,
       false},
  };
  for (const auto &c : cases) {
    const fs::path log = dir_ / "log";
    if (c.terminal) {
      shell("script -qfec '" + c.command + "' /dev/null > " + log.string() + " 2>&1");
    } else {
      shell(c.command + " 2> " + log.string());
    }
    std::string text = slurp(log);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());  // the terminal's line ends
    EXPECT_EQ(text.find("/13 files, ") != std::string::npos, c.progress) << c.command << "\n" << text;
    const std::string closing = "jpeg2pnm: 12 written (1 with damage warnings), 1 failed\n";
    EXPECT_EQ(text.find("\n" + closing) != std::string::npos || text.find("\033[K" + closing) != std::string::npos,
              c.progress)
        << c.command << "\n" << text;
    if (c.command != cases[4].command) {
      // The message about the broken file is a line of its own.
      const std::size_t at = text.find(failed);
      ASSERT_NE(at, std::string::npos) << c.command << "\n" << text;
      EXPECT_TRUE(at == 0 || text[at - 1] == '\n' || text.compare(at - 3, 3, "\033[K") == 0) << text;
    }
    fs::remove_all(dir_ / "out");
  }
}

// On a narrow terminal the line is cut to its width, so that a redraw
// never wraps and leaves a stale row: a batch held up 0.6 s by a FIFO
// redraws a line of 30 characters on 24 columns.
TEST_F(jpeg2pnm_program, progress_fits_the_terminal_width) {
  if (shell("command -v script >/dev/null") != 0) GTEST_SKIP() << "script(1) is not installed: no pseudo-terminal";
  const fs::path in = jpeg("a.jpg", colour_recipe());
  ASSERT_EQ(mkfifo((dir_ / "held.jpg").c_str(), 0600), 0);
  shell("cd '" + dir_.string() + "' && { (sleep 0.6; cat a.jpg > held.jpg) & script -qfec 'stty cols 24; " +
        JPEG2PNM_PATH + " -j 1 -d out a.jpg held.jpg' /dev/null > log 2>&1; wait; }");
  const std::string text = slurp(dir_ / "log");
  std::size_t redraws = 0;
  for (std::size_t at = text.find("\r\033[K"); at != std::string::npos; at = text.find("\r\033[K", at + 1)) {
    const std::size_t end = text.find_first_of("\r\n", at + 4);
    const std::string drawn = text.substr(at + 4, end == std::string::npos ? std::string::npos : end - at - 4);
    EXPECT_LE(drawn.size(), 23u) << drawn;
    redraws += drawn.find("1/2 files") == 0;
  }
  EXPECT_GE(redraws, 1u) << text;
}

TEST_F(jpeg2pnm_program, standard_input_to_standard_output) {
  const fs::path in = jpeg("in.jpg", colour_recipe());
  const fs::path out = dir_ / "out.ppm";
  const auto r = run("< " + in.string() + " > " + out.string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(parse_pnm(read_file(out)).pixels == decode_plain(read_file(in), {}).pixels);
}

TEST_F(jpeg2pnm_program, several_inputs_on_several_threads) {
  std::vector<fs::path> inputs;
  std::string arguments = "-j 3 -d " + (dir_ / "out").string();
  fs::create_directory(dir_ / "out");
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    image_recipe s = colour_recipe();
    s.seed = seed;
    s.components = seed == 6 ? 1 : 3;
    inputs.push_back(jpeg("img" + std::to_string(seed) + ".jpg", s));
    arguments += " " + inputs.back().string();
  }
  const auto r = run(arguments);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listing(dir_ / "out"),
            (std::vector<std::string>{"img1.ppm", "img2.ppm", "img3.ppm", "img4.ppm",
                                      "img5.ppm", "img6.pgm"}));
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    const fs::path out =
        dir_ / "out" / ("img" + std::to_string(seed) + (seed == 6 ? ".pgm" : ".ppm"));
    EXPECT_TRUE(parse_pnm(read_file(out)).pixels ==
                decode_plain(read_file(inputs[seed - 1]), {}).pixels)
        << out;
  }
}

TEST_F(jpeg2pnm_program, failures_leave_no_output_behind) {
  const auto good = encode_jpeg(colour_recipe());
  write_file(dir_ / "garbage.jpg", std::vector<unsigned char>(300, 0x42));
  write_file(dir_ / "empty.jpg", std::string());
  // A broken marker segment early in the header.
  auto corrupt = good;
  corrupt[4] = 0xFF;
  corrupt[5] = 0xFF;
  write_file(dir_ / "corrupt.jpg", corrupt);

  const struct {
    const char *input;
    const char *message;
  } cases[] = {
      {"garbage.jpg", "Not a JPEG file: starts with 0x42 0x42"},
      {"empty.jpg", "Empty input file"},
      {"missing.jpg", "cannot open: No such file or directory"},
  };
  for (const auto &c : cases) {
    const fs::path in = dir_ / c.input;
    const auto r = run("-o " + (dir_ / "out.ppm").string() + " " + in.string());
    EXPECT_EQ(r.status, 1) << c.input;
    EXPECT_EQ(r.err, "jpeg2pnm: " + in.string() + ": " + c.message + "\n");
    EXPECT_FALSE(fs::exists(dir_ / "out.ppm")) << c.input;
  }
  const auto r = run("-o " + (dir_ / "out.ppm").string() + " " + (dir_ / "corrupt.jpg").string());
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"corrupt.jpg", "empty.jpg", "garbage.jpg",
                                                     "stderr"}));
}

TEST_F(jpeg2pnm_program, damaged_data_is_written_with_a_warning_and_status_3) {
  auto file = encode_jpeg(colour_recipe());
  file.resize(file.size() * 3 / 4);
  write_file(dir_ / "cut.jpg", file);
  const auto r = run("-o " + (dir_ / "cut.ppm").string() + " " + (dir_ / "cut.jpg").string());
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("warning: Premature end of JPEG file"), std::string::npos) << r.err;
  EXPECT_EQ(parse_pnm(read_file(dir_ / "cut.ppm")).width, 37u);
}

TEST_F(jpeg2pnm_program, bad_command_lines_exit_2_with_one_line_and_a_hint) {
  const std::string try_help = "Try 'jpeg2pnm --help' for more information.\n";
  const struct {
    const char *arguments;
    std::string message;
  } cases[] = {
      {"--colors 300", "invalid colour count '300' (2 to 256)"},
      {"--nope", "unknown option '--nope'"},
      {"-x", "unknown option '-x'"},
      {"--o x.ppm in.jpg", "option '--o' is ambiguous; possibilities: '--output' '--one-pass'"},
      {"--nosmooth=yes in.jpg", "option '--nosmooth' takes no value"},
      {"--colo", "option '--colo' needs a value"},
      {"-o", "option '-o' needs a value"},
      {"a.jpg b.jpg", "several inputs need -d DIR"},
      {"-o '' in.jpg", "option '-o' needs a file name, not ''"},
      {"-d '' in.jpg", "option '-d' needs a folder name, not ''"},
      {"--scale 1/3 in.jpg",
       "invalid scale '1/3' (libjpeg scales by k/8 with k from 1 to 16 only; the nearest are 1/4 (25%) and 3/8 (37.5%))"},
      {"--scale 3/1 in.jpg",
       "invalid scale '3/1' (libjpeg scales by k/8 with k from 1 to 16 only; the nearest is 2/1 (200%))"},
      {"--two-pass in.jpg", "--two-pass has no effect without --colors N"},
      {"--dither none in.jpg", "--dither has no effect without --colors N"},
      {"--colors 9 --one-pass --two-pass in.jpg", "--one-pass and --two-pass cannot be used together"},
      {"--dither \"$(printf 'f\\ts')\" in.jpg", "invalid dither mode 'f\\ts' (fs, ordered or none)"},
  };
  for (const auto &c : cases) {
    const auto r = run(c.arguments);
    EXPECT_EQ(r.status, 2) << c.arguments;
    EXPECT_EQ(r.err, "jpeg2pnm: " + c.message + "\n" + try_help) << c.arguments;
  }
}

// Options the image itself rules out are refused once its header is read,
// with what would work instead, and no output file.
TEST_F(jpeg2pnm_program, options_the_image_cannot_take_are_refused) {
  const image_recipe gray = colour_recipe(1), cmyk = colour_recipe(4);
  const struct {
    const char *what;
    image_recipe recipe;
    const char *options;
    std::string message;
  } cases[] = {
      {"two passes on gray", gray, "--colors 16 --two-pass",
       "--two-pass: gray output is quantised in one pass only; leave out --two-pass"},
      {"two passes on CMYK", cmyk, "--colors 16 --two-pass",
       "--two-pass: CMYK output is quantised in one pass only; leave out --two-pass"},
      {"too few colours for colour", colour_recipe(), "--colors 7",
       "--colors 7: colour output needs at least 8 colours"},
      {"too few colours for CMYK", cmyk, "--colors 15", "--colors 15: CMYK output needs at least 16 colours"},
  };
  for (const auto &c : cases) {
    const fs::path in = jpeg("in.jpg", c.recipe);
    const auto r = run(std::string(c.options) + " -o " + (dir_ / "out.pnm").string() + " " + in.string());
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.err, "jpeg2pnm: " + in.string() + ": " + c.message + "\n") << c.what;
    EXPECT_FALSE(fs::exists(dir_ / "out.pnm")) << c.what;
  }
  // The fewest each kind takes are accepted.
  for (const auto &[recipe, colors] : {std::pair{gray, 2}, std::pair{colour_recipe(), 8}, std::pair{cmyk, 16}}) {
    const fs::path in = jpeg("in.jpg", recipe);
    EXPECT_EQ(run("--colors " + std::to_string(colors) + " -o " + (dir_ / "out.pnm").string() + " " +
                  in.string()).status, 0) << colors;
  }
}

}  // namespace
