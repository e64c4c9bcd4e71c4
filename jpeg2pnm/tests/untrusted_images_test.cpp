// jpeg2pnm with images from anywhere: bombs refused before decoding, input
// that is no image, the limits and --strict.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "jpeg_edits.h"
#include "jpeg_fixtures.h"
#include "pnm_file.h"
#include "image_program.h"
#include "program_test.h"

namespace {

namespace fs = std::filesystem;

using namespace jpeg_edits;

using untrusted_images = image_program;

TEST_F(untrusted_images, bombs_are_refused_before_decoding) {
  const bytes baseline = encode_jpeg(recipe_of(64, 48, 3, 1, 1, false));
  const bytes progressive_gray = encode_jpeg(recipe_of(64, 48, 1, 1, 1, true));
  const bytes progressive = encode_jpeg(recipe_of(64, 48, 3, 1, 1, true));
  image_recipe apart = recipe_of(64, 48, 3, 1, 1, false);
  apart.scan_per_component = true;
  const bytes empty_comment = {0xFF, 0xFE, 0x00, 0x00};
  const struct {
    const char *what;
    bytes file;
    const char *options;
    std::string message;
  } cases[] = {
      {"too little data for its image", with_claimed_size(baseline, 4000, 4000), "",
       "the file holds 970 bytes of image data, but its 4000x4000 image needs at least 93750: it is "
       "truncated; --allow-truncated decodes what there is"},
      {"one scan per component, huge", with_claimed_size(encode_jpeg(apart), 8192, 8192),
       "--allow-truncated --max-memory 10",
       "the 8192x8192 image needs 384 MiB of working memory, over the limit of 10 MiB; --max-memory MIB "
       "raises it, 0 lifts it"},
      {"scans behind a comment of length 0", inserted_before(with_many_scans(progressive, 600), 0xDA, empty_comment),
       "", "the 64x48 image has more than 100 scans, the limit; --max-scans N raises it, 0 lifts it"},
      {"a frame of 65535 rows, cropped", with_claimed_size(encode_jpeg([] {
         image_recipe r = recipe_of(64, 48, 3, 1, 1, false);
         r.restart_rows = 1;
         return r;
       }()), 64, 65535),
       "--allow-truncated --crop 8x8+3+130", "Maximum supported image dimension is 65500 pixels"},
      {"huge baseline", with_claimed_size(baseline, 65000, 65000), "",
       "the image is 65000x65000 (4225000000 pixels), over the limit of 268435456 pixels; "
       "--max-pixels N raises it, 0 lifts it"},
      {"huge progressive gray", with_claimed_size(progressive_gray, 65000, 65000), "",
       "the image is 65000x65000 (4225000000 pixels), over the limit of 268435456 pixels; "
       "--max-pixels N raises it, 0 lifts it"},
      {"huge progressive colour, pixels unlimited", with_claimed_size(progressive, 65000, 65000),
       "--max-pixels 0 --allow-truncated",
       "the 65000x65000 image needs 24176 MiB of working memory, over the limit of 2560 MiB; "
       "--max-memory MIB raises it, 0 lifts it"},
      {"5000 scans", with_many_scans(progressive, 5000), "",
       "the 64x48 image has more than 100 scans, the limit; --max-scans N raises it, 0 lifts it"},
  };
  for (const auto &c : cases) {
    write_file(dir_ / "bomb.jpg", c.file);
    EXPECT_EQ(run(std::string(c.options) + " -o out.ppm bomb.jpg"), 1) << c.what;
    EXPECT_EQ(err_, "jpeg2pnm: bomb.jpg: " + c.message + "\n") << c.what;
    EXPECT_FALSE(fs::exists(dir_ / "out.ppm")) << c.what;
  }
}

TEST_F(untrusted_images, input_that_is_no_image_is_refused_at_once) {
  write_file(dir_ / "big.jpg", bytes(3 << 20, 0xFF));
  write_file(dir_ / "one.jpg", std::string("x"));
  const struct {
    const char *arguments;
    std::string message;
  } cases[] = {
      {"< /dev/zero", "(standard input): Not a JPEG file: starts with 0x00 0x00"},
      {"< one.jpg", "(standard input): Not a JPEG file: one byte long (0x78)"},
      {"--max-input 1 big.jpg", "big.jpg: longer than 1048576 bytes, more than any image within the limits "
                                "takes; --max-input MIB raises the limit, 0 lifts it"},
      {"--max-input 2 < big.jpg", "(standard input): longer than 2097152 bytes, more than any image within "
                                  "the limits takes; --max-input MIB raises the limit, 0 lifts it"},
      {"--max-pixels 100000 < big.jpg", "(standard input): longer than 800000 bytes, more than any image "
                                        "within the limits takes; --max-input MIB raises the limit, 0 lifts it"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(run(std::string(c.arguments) + " -o out.ppm"), 1) << c.arguments;
    EXPECT_EQ(err_, "jpeg2pnm: " + c.message + "\n") << c.arguments;
    EXPECT_FALSE(fs::exists(dir_ / "out.ppm")) << c.arguments;
  }
  // An endless input that starts as a JPEG file stops at the limit.
  EXPECT_EQ(shell("cd '" + dir_.string() + "' && { printf '\\377\\330'; cat /dev/zero; } | " + JPEG2PNM_PATH +
                  " --max-input 1 -o out.ppm 2>/dev/null"),
            1);
}

TEST_F(untrusted_images, each_limit_is_lifted_by_zero) {
  write_file(dir_ / "small.jpg", encode_jpeg(recipe_of(21, 13, 3, 1, 1, false)));
  image_recipe noisy = recipe_of(1000, 800, 3, 1, 1, true);
  noisy.quality = 100;
  noisy.pixels.resize(1000 * 800 * 3);
  std::uint32_t random = 1;
  for (auto &p : noisy.pixels) p = static_cast<unsigned char>((random = random * 1103515245 + 12345) >> 23);
  write_file(dir_ / "progressive.jpg", encode_jpeg(noisy));
  const struct {
    const char *limited, *lifted, *input;
    std::string message;
  } cases[] = {
      {"--max-pixels 100", "--max-pixels 0", "small.jpg",
       "the image is 21x13 (273 pixels), over the limit of 100 pixels; --max-pixels N raises it, 0 "
       "lifts it"},
      {"--max-memory 1", "--max-memory 0", "progressive.jpg",
       "the 1000x800 image needs 5 MiB of working memory, over the limit of 1 MiB; --max-memory MIB "
       "raises it, 0 lifts it"},
      {"--max-input 1", "--max-input 0", "progressive.jpg",
       "longer than 1048576 bytes, more than any image within the limits takes; --max-input MIB raises the "
       "limit, 0 lifts it"},
      {"--max-scans 3", "--max-scans 0", "progressive.jpg",
       "the 1000x800 image has more than 3 scans, the limit; --max-scans N raises it, 0 lifts it"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(run(std::string(c.limited) + " -o out.ppm " + c.input), 1) << c.limited;
    EXPECT_EQ(err_, std::string("jpeg2pnm: ") + c.input + ": " + c.message + "\n");
    EXPECT_EQ(run(std::string(c.lifted) + " -o out.ppm " + c.input), 0) << c.lifted << ": " << err_;
    fs::remove(dir_ / "out.ppm");
  }
  // Arithmetic coding has no data floor: a flat image costs next to no
  // data, so its pixels are held to 64 a byte (at least 2048x2048) unless
  // --max-pixels is given.
  for (const int width : {2048, 2049}) {
    image_recipe flat = recipe_of(width, 2048, 1, 1, 1, false);
    flat.pixels.assign(static_cast<std::size_t>(width) * 2048, 90);
    flat.arithmetic = true;
    flat.progressive_scans = 30;
    write_file(dir_ / "flat.jpg", encode_jpeg(flat));
    EXPECT_EQ(run("--strict -o out.pgm flat.jpg"), width == 2048 ? 0 : 1) << width;
    if (width == 2049) {
      EXPECT_TRUE(err_.starts_with("jpeg2pnm: flat.jpg: the 2049x2048 image is arithmetic-coded in ")) << err_;
      EXPECT_TRUE(err_.ends_with(" bytes, which allow 4194304 pixels (64 a byte, at least 4194304); "
                                 "--max-pixels N sets the limit for every coding, 0 lifts it\n"))
          << err_;
      EXPECT_EQ(run("--max-pixels 0 -o out.pgm flat.jpg"), 0) << err_;
      EXPECT_EQ(run("--max-pixels 5000000 -o out.pgm flat.jpg"), 0) << err_;
    }
  }
  EXPECT_EQ(run("--max-scans x in.jpg"), 2);
  EXPECT_EQ(err_,
            "jpeg2pnm: invalid limit 'x' for '--max-scans' (a whole number; 0 for none)\n"
            "Try 'jpeg2pnm --help' for more information.\n");
}

TEST_F(untrusted_images, strict_makes_the_first_warning_fatal) {
  bytes file = encode_jpeg(recipe_of(37, 23, 3, 1, 1, false));
  file.resize(file.size() * 3 / 4);
  write_file(dir_ / "cut.jpg", file);
  EXPECT_EQ(run("-o cut.ppm cut.jpg"), 3);
  EXPECT_TRUE(fs::exists(dir_ / "cut.ppm"));
  fs::remove(dir_ / "cut.ppm");
  EXPECT_EQ(run("--strict -o cut.ppm cut.jpg"), 1);
  EXPECT_EQ(err_, "jpeg2pnm: cut.jpg: Premature end of JPEG file (--strict)\n");
  EXPECT_FALSE(fs::exists(dir_ / "cut.ppm"));
}

}  // namespace
