// jpeg2pnm with images from anywhere: bombs refused before decoding, the
// limits and --strict, CMYK ink amounts and their conversion to light,
// cropping, and the ICC profile.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "convert.h"
#include "jpeg_fixtures.h"
#include "pnm_file.h"
#include "program_test.h"

namespace {

namespace fs = std::filesystem;

using bytes = std::vector<unsigned char>;

// Offset of the first marker `code` (FF code) in a JPEG file.
std::size_t marker_at(const bytes &file, unsigned char code) {
  for (std::size_t i = 0; i + 1 < file.size(); ++i) {
    if (file[i] == 0xFF && file[i + 1] == code) return i;
  }
  ADD_FAILURE() << "no marker " << static_cast<int>(code);
  return 0;
}

// The file with the frame header claiming another size: what a bomb is.
bytes with_claimed_size(bytes file, unsigned width, unsigned height) {
  std::size_t sof = 0;
  while (sof + 9 < file.size() && !(file[sof] == 0xFF && (file[sof + 1] == 0xC0 || file[sof + 1] == 0xC2))) {
    ++sof;
  }
  file[sof + 5] = static_cast<unsigned char>(height >> 8);
  file[sof + 6] = static_cast<unsigned char>(height);
  file[sof + 7] = static_cast<unsigned char>(width >> 8);
  file[sof + 8] = static_cast<unsigned char>(width);
  return file;
}

// Where the scan whose SOS marker is at `sos` ends: at the next marker
// other than a stuffed byte or a restart.
std::size_t scan_end(const bytes &file, std::size_t sos) {
  std::size_t end = sos + 2;
  while (end + 1 < file.size() &&
         !(file[end] == 0xFF && file[end + 1] != 0x00 && (file[end + 1] < 0xD0 || file[end + 1] > 0xD7))) {
    ++end;
  }
  return end;
}

// A progressive file whose first scan is repeated to make `scans` scans.
bytes with_many_scans(const bytes &progressive, int scans) {
  const std::size_t first = marker_at(progressive, 0xDA);
  const std::size_t end = scan_end(progressive, first);
  bytes file(progressive.begin(), progressive.begin() + static_cast<std::ptrdiff_t>(first));
  for (int i = 0; i < scans; ++i) {
    file.insert(file.end(), progressive.begin() + static_cast<std::ptrdiff_t>(first),
                progressive.begin() + static_cast<std::ptrdiff_t>(end));
  }
  file.push_back(0xFF);
  file.push_back(0xD9);
  return file;
}

// The file closed with EOI after its first `scans` scans, as a clean file
// that ends early (an empty result when it has fewer).
bytes cut_after_scan(const bytes &file, int scans) {
  std::size_t at = 0;
  for (int i = 0; i < scans; ++i) {
    while (at + 1 < file.size() && !(file[at] == 0xFF && file[at + 1] == 0xDA)) ++at;
    if (at + 1 >= file.size()) return {};
    at = scan_end(file, at);
  }
  bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(at));
  cut.push_back(0xFF);
  cut.push_back(0xD9);
  return cut;
}

// `file` with `extra` inserted before its first marker `code`.
bytes inserted_before(bytes file, unsigned char code, const bytes &extra) {
  const std::size_t at = marker_at(file, code);
  file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), extra.begin(), extra.end());
  return file;
}

class untrusted_images : public program_test {
 protected:
  // Runs jpeg2pnm in dir_. Outside the sanitizers, with its address space
  // held to 1 GB: a decoder that took what a bomb asks for would fail.
  int run(const std::string &arguments) {
#if defined(__SANITIZE_ADDRESS__)
    const std::string guard = "ulimit -t 60";
#else
    const std::string guard = "ulimit -t 60 && ulimit -v 1000000";
#endif
    const int status = shell("cd '" + dir_.string() + "' && " + guard + " && " + JPEG2PNM_PATH + " " +
                             arguments + " 2>err");
    err_ = slurp(dir_ / "err");
    fs::remove(dir_ / "err");
    return status;
  }

  pnm_image image(const std::string &name) { return parse_pnm(read_file(dir_ / name)); }

  std::string err_;
};

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

TEST_F(untrusted_images, cmyk_is_written_as_ink_and_converted_to_light) {
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

// Crops at odd offsets, against the same region of a full decode.
TEST_F(untrusted_images, a_crop_is_the_region_of_a_full_decode) {
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

// The image convert_jpeg writes for `file`, in memory.
pnm_image decode_in_memory(const bytes &file, const convert_options &options) {
  char *buffer = nullptr;
  std::size_t size = 0;
  std::FILE *out = open_memstream(&buffer, &size);
  const convert_result r =
      convert_jpeg(file.data(), file.size(), options, [&](int, bool, std::string &) { return out; });
  std::fclose(out);
  const bytes written(buffer, buffer + size);
  std::free(buffer);
  EXPECT_TRUE(r.ok) << r.message;
  return r.ok ? parse_pnm(written) : pnm_image{};
}

// Every sampling layout libjpeg encodes, at every scale: a crop equals the
// same region of the full decode (libjpeg's own narrowing of rows is not
// exact for every layout and scale; jpeg2pnm must be).
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

TEST_F(untrusted_images, crops_that_cannot_be_made_say_why) {
  write_file(dir_ / "in.jpg", encode_jpeg(recipe_of(64, 48, 3, 1, 1, false)));
  EXPECT_EQ(run("--crop 10x10+60+0 -o out.ppm in.jpg"), 1);
  EXPECT_EQ(err_, "jpeg2pnm: in.jpg: --crop 10x10+60+0 lies outside the 64x48 image\n");
  EXPECT_EQ(run("--scale 1/2 --crop 40x10+0+0 -o out.ppm in.jpg"), 1);
  EXPECT_EQ(err_, "jpeg2pnm: in.jpg: --crop 40x10+0+0 lies outside the 32x24 image\n");
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

TEST_F(untrusted_images, the_icc_profile_comes_out_as_it_went_in) {
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
