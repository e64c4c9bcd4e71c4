#include "tamlo_jpeg.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "jpeg_fixtures.h"
#include "sink_decode.h"

namespace {

// Test images by name, encoded once.
const std::map<std::string, std::vector<unsigned char>> &images() {
  static const auto all = [] {
    std::map<std::string, std::vector<unsigned char>> m;
    m["rgb444"] = encode_jpeg(recipe_of(61, 37, 3));
    m["rgb422"] = encode_jpeg(recipe_of(61, 37, 3, 2, 1));
    m["rgb420"] = encode_jpeg(recipe_of(61, 37, 3, 2, 2));
    m["rgb420_progressive"] = encode_jpeg(recipe_of(61, 37, 3, 2, 2, true));
    m["rgb420_restarts"] = encode_jpeg(recipe_of(61, 37, 3, 2, 2, false, 1));
    m["rgb_1x1"] = encode_jpeg(recipe_of(1, 1, 3, 2, 2));
    m["rgb_17x9"] = encode_jpeg(recipe_of(17, 9, 3, 2, 2));
    m["rgb_strip_4000"] = encode_jpeg(recipe_of(4000, 3, 3, 2, 2));
    m["gray"] = encode_jpeg(recipe_of(45, 29, 1));
    m["gray_progressive"] = encode_jpeg(recipe_of(17, 9, 1, 1, 1, true));
    m["cmyk"] = encode_jpeg(recipe_of(33, 21, 4));
    return m;
  }();
  return all;
}

std::vector<decode_mode> colour_modes() {
  std::vector<decode_mode> modes;
  auto add = [&](decode_mode m) { modes.push_back(std::move(m)); };
  add({.name = "rgb"});
  add({.name = "colour_to_gray", .out_space = JCS_GRAYSCALE});
  add({.name = "one_pass_fs", .colors = 64, .dither = JDITHER_FS});
  add({.name = "one_pass_ordered", .colors = 64, .dither = JDITHER_ORDERED});
  add({.name = "one_pass_none", .colors = 17, .dither = JDITHER_NONE});
  add({.name = "two_pass", .colors = 200, .two_pass = true});
  add({.name = "two_pass_no_dither", .colors = 8, .two_pass = true, .dither = JDITHER_NONE});
  add({.name = "quantised_gray", .out_space = JCS_GRAYSCALE, .colors = 5});
  for (unsigned m : {1u, 2u, 3u, 5u, 7u, 13u}) {
    add({.name = "scaled_" + std::to_string(m) + "_8", .scale_num = m});
  }
  add({.name = "scaled_quantised", .colors = 32, .scale_num = 3});
  add({.name = "dct_fast", .dct = JDCT_IFAST});
  add({.name = "dct_float", .dct = JDCT_FLOAT});
  add({.name = "no_fancy_upsampling", .fancy_upsampling = false});
  return modes;
}

std::vector<decode_mode> gray_modes() {
  return {{.name = "gray"},
          {.name = "gray_to_rgb", .out_space = JCS_RGB},
          {.name = "quantised_gray", .colors = 7},
          {.name = "quantised_gray_ordered", .colors = 7, .dither = JDITHER_ORDERED},
          {.name = "scaled_2_8", .scale_num = 2}};
}

std::vector<decode_mode> cmyk_modes() {
  return {{.name = "cmyk"},
          {.name = "cmyk_one_pass", .colors = 81},
          {.name = "cmyk_scaled", .scale_num = 4}};
}

struct sink_case {
  std::string image;
  decode_mode mode;
};

std::vector<sink_case> all_cases() {
  std::vector<sink_case> cases;
  for (const auto &[name, file] : images()) {
    const auto modes = name.starts_with("gray")   ? gray_modes()
                       : name.starts_with("cmyk") ? cmyk_modes()
                                                  : colour_modes();
    for (const auto &m : modes) cases.push_back({name, m});
  }
  return cases;
}

void PrintTo(const sink_case &c, std::ostream *os) { *os << c.image << " " << c.mode.name; }

class sink_matches_plain_decode : public testing::TestWithParam<sink_case> {};

TEST_P(sink_matches_plain_decode, byte_for_byte) {
  const auto &[image_name, mode] = GetParam();
  const auto &file = images().at(image_name);
  const decoded_image expected = decode_plain(file, mode);
  const decoded_image actual = decode_with_sink(file, mode);
  ASSERT_EQ(actual.width, expected.width);
  ASSERT_EQ(actual.height, expected.height);
  ASSERT_EQ(actual.components, expected.components);
  ASSERT_EQ(actual.pixels.size(), expected.pixels.size());
  EXPECT_TRUE(actual.pixels == expected.pixels);
  EXPECT_EQ(actual.warnings, 0);
}

INSTANTIATE_TEST_SUITE_P(images_and_modes, sink_matches_plain_decode,
                         testing::ValuesIn(all_cases()),
                         [](const auto &test) {
                           return test.param.image + "_" + test.param.mode.name;
                         });

// A decompressor with the header read, released at scope exit.
struct open_image {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  explicit open_image(const std::vector<unsigned char> &file) {
    use_throwing_errors(err);
    cinfo.err = &err;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
  }
  ~open_image() { jpeg_destroy_decompress(&cinfo); }
};

TEST(sink, sizes_follow_scaled_and_quantised_output) {
  const struct {
    const char *image;
    decode_mode mode;
    JDIMENSION width;
    int components;
    bool direct;
  } cases[] = {
      {"rgb444", {.name = "rgb"}, 61, 3, true},
      {"gray", {.name = "gray"}, 45, 1, true},
      {"rgb444", {.name = "half", .scale_num = 4}, 31, 3, true},
      {"rgb444", {.name = "quantised", .colors = 16}, 61, 3, false},
      {"cmyk", {.name = "cmyk"}, 33, 4, true},
  };
  for (const auto &c : cases) {
    open_image img(images().at(c.image));
    apply_mode(img.cinfo, c.mode);
    ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(&img.cinfo);
    EXPECT_EQ(img.cinfo.output_width, c.width) << c.mode.name;
    EXPECT_EQ(img.cinfo.out_color_components, c.components) << c.mode.name;
    EXPECT_EQ(sink->sample_row_count, 1u);
    EXPECT_EQ(sink->client_slot, nullptr);
    jpeg_start_decompress(&img.cinfo);
    std::vector<unsigned char> row(c.width * static_cast<unsigned>(c.components) + 1, 0xA5);
    jpeg_read_scanlines(&img.cinfo, sink->sample_rows, 1);
    sink->put_pixel_rows(&img.cinfo, sink, 1, row.data());
    EXPECT_EQ(row.back(), 0xA5) << c.mode.name << ": wrote past the row";
    jpeg_abort_decompress(&img.cinfo);
  }
}

TEST(sink, row_count_of_zero_still_delivers_the_row) {
  for (const decode_mode &mode : {decode_mode{.name = "direct"},
                                  decode_mode{.name = "quantised", .colors = 32}}) {
    const auto &file = images().at("rgb420");
    const decoded_image expected = decode_with_sink(file, mode);
    open_image img(file);
    apply_mode(img.cinfo, mode);
    ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(&img.cinfo);
    jpeg_start_decompress(&img.cinfo);
    const std::size_t row_bytes = expected.width * 3u;
    std::vector<unsigned char> row(row_bytes);
    jpeg_read_scanlines(&img.cinfo, sink->sample_rows, sink->sample_row_count);
    sink->put_pixel_rows(&img.cinfo, sink, 0, row.data());
    EXPECT_TRUE(std::equal(row.begin(), row.end(), expected.pixels.begin())) << mode.name;
    jpeg_abort_decompress(&img.cinfo);
  }
}

TEST(sink, colormap_in_place_at_each_row_is_used) {
  open_image img(images().at("rgb444"));
  apply_mode(img.cinfo, {.name = "quantised", .colors = 16});
  ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(&img.cinfo);
  jpeg_start_decompress(&img.cinfo);
  const JDIMENSION width = img.cinfo.output_width;
  std::vector<unsigned char> row(width * 3u);

  jpeg_read_scanlines(&img.cinfo, sink->sample_rows, 1);
  sink->put_pixel_rows(&img.cinfo, sink, 1, row.data());
  EXPECT_EQ(row[0], img.cinfo.colormap[0][sink->sample_rows[0][0]]);

  // Replace the map: each entry i becomes (i, 255 - i, 7).
  std::vector<unsigned char> maps(3 * 256);
  for (int i = 0; i < 256; ++i) {
    maps[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
    maps[256 + static_cast<std::size_t>(i)] = static_cast<unsigned char>(255 - i);
    maps[512 + static_cast<std::size_t>(i)] = 7;
  }
  JSAMPROW map_rows[3] = {maps.data(), maps.data() + 256, maps.data() + 512};
  const JSAMPARRAY original = img.cinfo.colormap;
  img.cinfo.colormap = map_rows;
  jpeg_read_scanlines(&img.cinfo, sink->sample_rows, 1);
  sink->put_pixel_rows(&img.cinfo, sink, 1, row.data());
  for (JDIMENSION x = 0; x < width; ++x) {
    const unsigned index = sink->sample_rows[0][x];
    ASSERT_EQ(row[3 * x], index);
    ASSERT_EQ(row[3 * x + 1], 255 - index);
    ASSERT_EQ(row[3 * x + 2], 7);
  }
  img.cinfo.colormap = original;
  jpeg_abort_decompress(&img.cinfo);
}

// Settings a host changes where the sink cannot follow them are refused
// through the error manager, never answered with rows of stale bytes.
TEST(sink, settings_the_rows_cannot_follow_are_refused) {
  const struct {
    const char *what;
    bool after_init;   // changed after the initialiser rather than before
    bool skip_start;   // the host never calls start_output
    void (*change)(jpeg_decompress_struct &);
    const char *message;
  } cases[] = {
      {"RGB565 before the initialiser", false, false,
       [](jpeg_decompress_struct &c) { c.out_color_space = JCS_RGB565; }, "Unsupported color conversion request"},
      {"RGB565 after the initialiser", true, false,
       [](jpeg_decompress_struct &c) { c.out_color_space = JCS_RGB565; }, "Unsupported color conversion request"},
      {"a larger scale, start_output skipped", true, true, [](jpeg_decompress_struct &c) { c.scale_num = 4; },
       "Image too wide for this implementation"},
  };
  for (const auto &c : cases) {
    open_image img(images().at("rgb444"));
    img.cinfo.scale_num = c.skip_start ? 2 : 8;
    img.cinfo.scale_denom = 8;
    try {
      if (!c.after_init) c.change(img.cinfo);
      ppm_row_sink *sink = tamlo_jpeg_jinit_write_ppm(&img.cinfo);
      if (c.after_init) c.change(img.cinfo);
      jpeg_start_decompress(&img.cinfo);
      if (!c.skip_start) (*sink->start_output)(&img.cinfo, sink);
      std::vector<unsigned char> row(img.cinfo.output_width * 3);
      // Rows land in a buffer as wide as libjpeg's, so only the sink can see the mismatch.
      while (img.cinfo.output_scanline < img.cinfo.output_height) {
        jpeg_read_scanlines(&img.cinfo, sink->sample_rows, 1);
        (*sink->put_pixel_rows)(&img.cinfo, sink, 1, row.data());
      }
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const jpeg_failure &f) {
      EXPECT_STREQ(f.message, c.message) << c.what;
    }
  }
}

TEST(sink, damaged_input_fails_or_warns_cleanly) {
  const auto &good = images().at("rgb420");
  const decode_mode mode{.name = "quantised", .colors = 64, .two_pass = true};

  // Cut inside the entropy-coded data: libjpeg warns and pads the image.
  std::vector<unsigned char> truncated(good.begin(), good.begin() + static_cast<long>(good.size() * 3 / 4));
  try {
    const decoded_image partial = decode_with_sink(truncated, mode);
    EXPECT_GT(partial.warnings, 0);
  } catch (const jpeg_failure &f) {
    FAIL() << f.message;
  }

  std::vector<unsigned char> not_jpeg(200, 0x42);
  EXPECT_THROW(decode_with_sink(not_jpeg, mode), jpeg_failure);

  // A broken quantisation table reference after a valid start of image.
  std::vector<unsigned char> corrupt = good;
  for (std::size_t i = 20; i < 120 && i < corrupt.size(); ++i) corrupt[i] ^= 0x5A;
  // Either libjpeg refuses it with a message, or the sink delivers a whole
  // image of the size the header gives, damaged as it may be.
  try {
    const decoded_image decoded = decode_with_sink(corrupt, mode);
    EXPECT_EQ(decoded.pixels.size(), decoded.row_size() * decoded.height);
    EXPECT_GT(decoded.height, 0u);
  } catch (const jpeg_failure &f) {
    EXPECT_STRNE(f.message, "");
  }
}

TEST(sink, concurrent_decoders_each_get_their_own_image) {
  std::vector<std::vector<unsigned char>> files;
  std::vector<decoded_image> expected;
  const decode_mode modes[] = {{.name = "rgb"},
                               {.name = "q", .colors = 50, .two_pass = true},
                               {.name = "q1", .colors = 20},
                               {.name = "s", .scale_num = 3}};
  for (std::uint32_t seed = 1; seed <= 4; ++seed) {
    image_recipe s = recipe_of(120, 80, 3, 2, 2);
    s.seed = seed;
    files.push_back(encode_jpeg(s));
    expected.push_back(decode_plain(files.back(), modes[seed - 1]));
  }
  std::vector<int> matches(files.size(), 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < files.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round) {
        if (decode_with_sink(files[t], modes[t]).pixels == expected[t].pixels) ++matches[t];
      }
    });
  }
  for (auto &t : threads) t.join();
  for (int m : matches) EXPECT_EQ(m, 5);
}

}  // namespace
