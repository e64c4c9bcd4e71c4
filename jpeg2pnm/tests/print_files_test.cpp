// CMYK and YCCK as ink amounts and as light, and the embedded ICC
// profile written as it went in.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image_program.h"
#include "jpeg_edits.h"
#include "jpeg_fixtures.h"
#include "pnm_file.h"

namespace {

namespace fs = std::filesystem;
using namespace jpeg_edits;

using print_files = image_program;

// Every sample within `tolerance` of `expected`, which repeats per pixel.
void expect_samples_near(const pnm_image &img, const std::vector<int> &expected, int tolerance,
                         const std::string &what) {
  ASSERT_EQ(img.depth, expected.size()) << what;
  ASSERT_EQ(img.pixels.size(), img.width * img.height * img.depth) << what;
  int worst = 0;
  for (std::size_t i = 0; i < img.pixels.size(); ++i) {
    worst = std::max(worst, std::abs(img.pixels[i] - expected[i % expected.size()]));
  }
  EXPECT_LE(worst, tolerance) << what;
}

TEST_F(print_files, cmyk_is_written_as_ink_and_converted_to_light) {
  // One ink mix over the whole image: cyan 10, magenta 100, yellow 200,
  // black 60 (0 no ink, 255 full).
  const std::vector<int> ink = {10, 100, 200, 60};
  // As light: (255 - ink) * (255 - black) / 255 for red, green and blue
  // (187, 119, 42), and as gray with libjpeg's weights of those, 131.
  const std::vector<int> rgb = {187, 119, 42};
  const int gray = 131;
  const struct {
    const char *what;
    bool adobe, ycck;
  } kinds[] = {{"Adobe CMYK", true, false}, {"plain CMYK", false, false}, {"YCCK", true, true}};
  for (const auto &k : kinds) {
    image_recipe r = recipe_of(32, 16, 4, 1, 1, false);
    r.quality = 100;
    r.adobe_marker = k.adobe;
    r.ycck = k.ycck;
    for (int p = 0; p < 32 * 16; ++p) {
      // Adobe's files store 255 for no ink.
      for (int c = 0; c < 4; ++c) {
        r.pixels.push_back(static_cast<unsigned char>(k.adobe ? 255 - ink[static_cast<std::size_t>(c)]
                                                               : ink[static_cast<std::size_t>(c)]));
      }
    }
    write_file(dir_ / "ink.jpg", encode_jpeg(r));
    ASSERT_EQ(run("-o ink.pam ink.jpg"), 0) << k.what << ": " << err_;
    EXPECT_EQ(image("ink.pam").tuple_type, "CMYK") << k.what;
    expect_samples_near(image("ink.pam"), ink, 2, std::string(k.what) + " as PAM");
    ASSERT_EQ(run("--rgb -o ink.ppm ink.jpg"), 0) << k.what << ": " << err_;
    EXPECT_EQ(image("ink.ppm").magic, "P6");
    expect_samples_near(image("ink.ppm"), rgb, 2, std::string(k.what) + " as RGB");
    for (const char *options : {"--grayscale", "--rgb --grayscale"}) {
      ASSERT_EQ(run(std::string(options) + " -o ink.pgm ink.jpg"), 0) << k.what << ": " << err_;
      EXPECT_EQ(image("ink.pgm").magic, "P5");
      expect_samples_near(image("ink.pgm"), {gray}, 2, std::string(k.what) + " " + options);
    }
  }
  EXPECT_EQ(run("--rgb --colors 16 -o ink.ppm ink.jpg"), 1);
  EXPECT_EQ(err_, "jpeg2pnm: ink.jpg: --colors: a CMYK image is quantised as CMYK only; leave out --rgb\n");
}

TEST_F(print_files, the_icc_profile_comes_out_as_it_went_in) {
  // Larger than one marker holds, so it spans several.
  image_recipe r = recipe_of(40, 30, 3, 1, 1, false);
  for (int i = 0; i < 70000; ++i) r.icc_profile.push_back(static_cast<unsigned char>(i * 7 + (i >> 8)));
  write_file(dir_ / "icc.jpg", encode_jpeg(r));
  ASSERT_EQ(run("--icc profile.icc -o out.ppm icc.jpg"), 0) << err_;
  EXPECT_EQ(err_, "");
  EXPECT_TRUE(read_file(dir_ / "profile.icc") == r.icc_profile);

  write_file(dir_ / "plain.jpg", encode_jpeg(recipe_of(40, 30, 3, 1, 1, false)));
  EXPECT_EQ(run("--icc none.icc -o out.ppm plain.jpg"), 0);
  EXPECT_EQ(err_, "jpeg2pnm: plain.jpg: warning: the image has no embedded ICC profile; none.icc not written\n");
  EXPECT_FALSE(fs::exists(dir_ / "none.icc"));
  EXPECT_EQ(run("--icc x.icc -d out plain.jpg"), 2);
}

}  // namespace
