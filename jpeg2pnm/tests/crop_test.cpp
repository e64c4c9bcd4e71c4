// jpeg2pnm --crop: the region of a full decode, at odd offsets, in every
// sampling layout and scale, progressive files cut short included; and
// the crops that cannot be made.
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

using crops = image_program;

// Crops at odd offsets, against the same region of a full decode.
TEST_F(crops, a_crop_is_the_region_of_a_full_decode) {
  const struct {
    const char *what;
    image_recipe recipe;
  } images[] = {
      {"baseline 4:2:0", [] { image_recipe r = recipe_of(211, 143, 3, 1, 1, false); r.h_sampling = r.v_sampling = 2; return r; }()},
      {"baseline 4:2:2", [] { image_recipe r = recipe_of(211, 143, 3, 1, 1, false); r.h_sampling = 2; return r; }()},
      {"progressive 4:2:0", [] { image_recipe r = recipe_of(211, 143, 3, 1, 1, true); r.h_sampling = r.v_sampling = 2; return r; }()},
      {"gray", recipe_of(211, 143, 1, 1, 1, false)},
      {"CMYK", recipe_of(97, 61, 4, 1, 1, false)},
      // Restart markers: a crop far down starts at the interval above it.
      {"4:2:0, a restart every MCU row", [] { image_recipe r = recipe_of(211, 143, 3, 1, 1, false); r.h_sampling = r.v_sampling = 2; r.restart_rows = 1; return r; }()},
      {"4:2:2, a restart every 2 MCU rows", [] { image_recipe r = recipe_of(211, 143, 3, 1, 1, false); r.h_sampling = 2; r.restart_rows = 2; return r; }()},
      {"gray, a restart every 3 MCU rows", [] { image_recipe r = recipe_of(211, 143, 1, 1, 1, false); r.restart_rows = 3; return r; }()},
  };
  const struct {
    const char *options;
    bool colour_only;
  } modes[] = {
      {"", false},
      {"--scale 1/2", false},
      {"--scale 3/8", false},
      {"--scale 2/1", false},
      {"--grayscale", false},
      {"--nosmooth --dct fast", false},
      {"--colors 16 --one-pass --dither none", true},
  };
  const unsigned regions[][4] = {{33, 21, 7, 5},   {1, 1, 30, 17},   {40, 29, 50, 30}, {10, 10, 0, 0},
                                 {24, 16, 45, 29}, {20, 10, 60, 60}, {20, 12, 100, 120}, {16, 8, 150, 135}};
  for (const auto &img : images) {
    write_file(dir_ / "in.jpg", encode_jpeg(img.recipe));
    for (const auto &mode : modes) {
      if (mode.colour_only && img.recipe.components != 3) continue;
      ASSERT_EQ(run(std::string(mode.options) + " -o full.pnm in.jpg"), 0) << img.what << ": " << err_;
      const pnm_image full = image("full.pnm");
      for (const auto &r : regions) {
        const unsigned w = r[0], h = r[1], x = r[2], y = r[3];
        if (x + w > full.width || y + h > full.height) continue;
        const std::string crop = std::to_string(w) + "x" + std::to_string(h) + "+" +
                                 std::to_string(x) + "+" + std::to_string(y);
        const std::string what = std::string(img.what) + " " + mode.options + " --crop " + crop;
        ASSERT_EQ(run(std::string(mode.options) + " --crop " + crop + " -o crop.pnm in.jpg"), 0)
            << what << ": " << err_;
        const pnm_image cropped = image("crop.pnm");
        ASSERT_EQ(cropped.width, w) << what;
        ASSERT_EQ(cropped.height, h) << what;
        ASSERT_EQ(cropped.magic, full.magic) << what;
        std::vector<unsigned char> region;
        for (unsigned row = y; row < y + h; ++row) {
          const auto start = full.pixels.begin() + static_cast<std::ptrdiff_t>((row * full.width + x) * full.depth);
          region.insert(region.end(), start, start + static_cast<std::ptrdiff_t>(w * full.depth));
        }
        EXPECT_TRUE(cropped.pixels == region) << what;
      }
    }
  }
}


// Crops of `file` at every scale, against the same region of its full
// decode; `what` names the case.
void expect_crops_like_the_full_decode(const bytes &file, const std::string &what) {
  for (unsigned k = 1; k <= 16; ++k) {
    convert_options o;
    o.scale_num = k;
    o.scale_denom = 8;
    const pnm_image full = decode_in_memory(file, o);
    const unsigned regions[][4] = {{full.width / 2, full.height / 3, full.width / 4 + 1, full.height / 3},
                                   {3, 2, full.width - 3, 1},
                                   {full.width, 1, 0, full.height - 1}};
    for (const auto &region : regions) {
      o.crop_width = region[0];
      o.crop_height = region[1];
      o.crop_x = region[2];
      o.crop_y = region[3];
      const pnm_image crop = decode_in_memory(file, o);
      int differing = 0;
      for (unsigned y = 0; y < o.crop_height; ++y) {
        for (unsigned x = 0; x < o.crop_width * 3; ++x) {
          differing += crop.pixels[(y * o.crop_width) * 3 + x] !=
                       full.pixels[((o.crop_y + y) * full.width + o.crop_x) * 3 + x];
        }
      }
      EXPECT_EQ(differing, 0) << what << " at " << k << "/8, crop " << o.crop_width << "x" << o.crop_height
                              << "+" << o.crop_x << "+" << o.crop_y;
    }
  }
}

// Every sampling layout libjpeg encodes, at every scale: a crop equals the
// same region of the full decode (libjpeg's own narrowing of rows is not
// exact for every layout and scale; jpeg2pnm must be). Progressive files
// that end after any of their scans too, where libjpeg smooths the blocks
// it has only in part.
TEST(crop_layouts, every_sampling_and_scale_crops_like_the_full_decode) {
  int layouts = 0;
  for (int h = 1; h <= 4; ++h) {
    for (int v = 1; v <= 4; ++v) {
      if (h * v + 2 > 10) continue;  // over libjpeg's 10 blocks an MCU
      image_recipe r = recipe_of(211, 143, 3, 1, 1, false);
      r.h_sampling = h;
      r.v_sampling = v;
      ++layouts;
      const std::string layout = std::to_string(h) + "x" + std::to_string(v);
      expect_crops_like_the_full_decode(encode_jpeg(r), layout);
      if (h * v > 4 || h + v == 5) continue;  // the progressive cuts on the common layouts
      r.progressive = true;
      const bytes progressive = encode_jpeg(r);
      for (int scans = 1; !cut_after_scan(progressive, scans).empty(); ++scans) {
        expect_crops_like_the_full_decode(cut_after_scan(progressive, scans),
                                          layout + " progressive cut after scan " + std::to_string(scans));
      }
    }
  }
  EXPECT_EQ(layouts, 12);
}

TEST_F(crops, crops_that_cannot_be_made_say_why) {
  write_file(dir_ / "in.jpg", encode_jpeg(recipe_of(64, 48, 3, 1, 1, false)));
  const struct {
    const char *options, *message;
  } outside[] = {
      {"--crop 10x10+60+0", "--crop 10x10+60+0 passes the right edge of the 64x48 image; --crop 4x10+60+0 fits there"},
      {"--scale 1/2 --crop 40x10+0+0",
       "--crop 40x10+0+0 passes the right edge of the 32x24 image; --crop 32x10+0+0 fits there"},
      {"--crop 10x50+0+5", "--crop 10x50+0+5 passes the bottom edge of the 64x48 image; --crop 10x43+0+5 fits there"},
      {"--crop 99x99+1+1",
       "--crop 99x99+1+1 passes the right and bottom edges of the 64x48 image; --crop 63x47+1+1 fits there"},
      {"--crop 5x5+64+0", "--crop 5x5+64+0 starts outside the 64x48 image (X from 0 to 63, Y from 0 to 47)"},
  };
  for (const auto &c : outside) {
    EXPECT_EQ(run(std::string(c.options) + " -o out.ppm in.jpg"), 1) << c.options;
    EXPECT_EQ(err_, std::string("jpeg2pnm: in.jpg: ") + c.message + "\n");
  }
  EXPECT_EQ(run("--colors 16 --crop 10x10+0+0 -o out.ppm in.jpg"), 1);
  EXPECT_EQ(err_,
            "jpeg2pnm: in.jpg: --crop: libjpeg cannot skip rows of a two-pass quantised decode; add "
            "--one-pass\n");
  EXPECT_FALSE(fs::exists(dir_ / "out.ppm"));
  for (const char *bad : {"10x10", "0x5+1+1", "10x10+-1+0", "10x10+1+1x", "ax1+0+0"}) {
    EXPECT_EQ(run(std::string("--crop ") + bad + " in.jpg"), 2) << bad;
    EXPECT_EQ(err_, std::string("jpeg2pnm: invalid region '") + bad +
                        "' for '--crop' (WxH+X+Y, e.g. 512x512+100+40)\nTry 'jpeg2pnm --help' for "
                        "more information.\n");
  }
  // With -d every image is cropped.
  write_file(dir_ / "b.jpg", encode_jpeg(recipe_of(30, 20, 1, 1, 1, false)));
  EXPECT_EQ(run("--crop 8x4+3+2 -d out in.jpg b.jpg"), 0) << err_;
  EXPECT_EQ(image("out/in.ppm").width, 8u);
  EXPECT_EQ(image("out/b.pgm").height, 4u);
}

}  // namespace
