#include "restart_trim.h"

#include <gtest/gtest.h>

#include "jpeg_fixtures.h"
#include "reference_decode.h"

namespace {

image_recipe restart_recipe(int components, int h, int v, int restart_rows, bool progressive) {
  image_recipe r;
  r.width = 211;
  r.height = 143;
  r.components = components;
  r.h_sampling = h;
  r.v_sampling = v;
  r.restart_rows = restart_rows;
  r.progressive = progressive;
  return r;
}

// A trimmed file decodes to the rows of the whole image below the ones left
// out, except the first MCU row, whose upsampling lacks the row above.
TEST(trim_rows_above, starts_at_the_interval_above_the_row) {
  const struct {
    const char *what;
    image_recipe recipe;
    unsigned first_row, skipped, mcu_height;
  } cases[] = {
      {"4:2:0, every MCU row", restart_recipe(3, 2, 2, 1, false), 120, 96, 16},
      {"4:2:0, every MCU row, row on an MCU boundary", restart_recipe(3, 2, 2, 1, false), 32, 16, 16},
      {"4:2:2, every 2 MCU rows", restart_recipe(3, 2, 1, 2, false), 100, 80, 8},
      {"gray, every 3 MCU rows", restart_recipe(1, 1, 1, 3, false), 140, 120, 8},
  };
  for (const auto &c : cases) {
    const std::vector<unsigned char> file = encode_jpeg(c.recipe);
    trimmed_jpeg trimmed;
    ASSERT_TRUE(trim_rows_above(file.data(), file.size(), c.first_row, trimmed)) << c.what;
    EXPECT_EQ(trimmed.skipped_rows, c.skipped) << c.what;
    EXPECT_EQ(trimmed.width, 211u);
    EXPECT_EQ(trimmed.height, 143u);
    const decoded_image whole = decode_plain(file, {});
    const decoded_image part = decode_plain(trimmed.data, {});
    ASSERT_EQ(part.height, whole.height - c.skipped) << c.what;
    const std::size_t stride = static_cast<std::size_t>(whole.width) * static_cast<std::size_t>(whole.components);
    const auto from = [&](const decoded_image &img, unsigned row) {
      return img.pixels.begin() + static_cast<std::ptrdiff_t>(row * stride);
    };
    EXPECT_TRUE(std::equal(from(part, c.mcu_height), part.pixels.end(), from(whole, c.skipped + c.mcu_height)))
        << c.what;
  }
}

TEST(trim_rows_above, leaves_other_files_alone) {
  const struct {
    const char *what;
    image_recipe recipe;
    unsigned first_row;
  } cases[] = {
      {"no restart markers", restart_recipe(3, 2, 2, 0, false), 120},
      {"progressive", restart_recipe(3, 2, 2, 1, true), 120},
      {"row in the first two MCU rows", restart_recipe(3, 2, 2, 1, false), 31},
      {"row in the first interval", restart_recipe(3, 2, 2, 4, false), 70},
  };
  for (const auto &c : cases) {
    const std::vector<unsigned char> file = encode_jpeg(c.recipe);
    trimmed_jpeg trimmed;
    EXPECT_FALSE(trim_rows_above(file.data(), file.size(), c.first_row, trimmed)) << c.what;
    EXPECT_TRUE(trimmed.data.empty()) << c.what;
  }
  // Damaged headers and data.
  std::vector<unsigned char> file = encode_jpeg(restart_recipe(3, 2, 2, 1, false));
  trimmed_jpeg trimmed;
  for (std::size_t cut : {std::size_t{0}, std::size_t{3}, std::size_t{100}, file.size() / 2}) {
    EXPECT_FALSE(trim_rows_above(file.data(), cut, 130, trimmed)) << cut;
  }
}

}  // namespace
