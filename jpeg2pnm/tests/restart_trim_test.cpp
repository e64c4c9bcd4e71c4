#include "input/restart_trim.h"

#include <gtest/gtest.h>

#include "jpeg_fixtures.h"
#include "reference_decode.h"

namespace {

using bytes = std::vector<unsigned char>;

// The whole rebuilt file, as its source hands it to libjpeg in chunks.
bytes rebuilt(const trimmed_jpeg &trimmed) {
  bytes file(trimmed.size + 10);
  file.resize(read_trimmed(trimmed, 0, file.data(), file.size()));
  return file;
}

// The frame as libjpeg reads it, as jpeg2pnm hands it to the trimming.
frame_as_read read_by_libjpeg(const bytes &file) {
  memory_decompressor d(file);
  frame_as_read f;
  f.width = d.cinfo.image_width;
  f.height = d.cinfo.image_height;
  f.components = static_cast<unsigned>(d.cinfo.num_components);
  f.max_h = static_cast<unsigned>(d.cinfo.max_h_samp_factor);
  f.max_v = static_cast<unsigned>(d.cinfo.max_v_samp_factor);
  f.restart_interval = d.cinfo.restart_interval;
  return f;
}

// A trimmed file decodes to the rows of the whole image below the ones left
// out, except the first MCU row, whose upsampling lacks the row above.
TEST(trim_rows_above, starts_at_the_interval_above_the_row) {
  const struct {
    const char *what;
    image_recipe recipe;
    unsigned first_row, skipped, mcu_height;
  } cases[] = {
      {"4:2:0, every MCU row", recipe_of(211, 143, 3, 2, 2, false, 1), 120, 96, 16},
      {"4:2:0, every MCU row, row on an MCU boundary", recipe_of(211, 143, 3, 2, 2, false, 1), 32, 16, 16},
      {"4:2:2, every 2 MCU rows", recipe_of(211, 143, 3, 2, 1, false, 2), 100, 80, 8},
      {"gray, every 3 MCU rows", recipe_of(211, 143, 1, 1, 1, false, 3), 140, 120, 8},
  };
  for (const auto &c : cases) {
    const std::vector<unsigned char> file = encode_jpeg(c.recipe);
    trimmed_jpeg trimmed;
    ASSERT_TRUE(trim_rows_above(file.data(), file.size(), c.first_row, read_by_libjpeg(file), trimmed)) << c.what;
    EXPECT_EQ(trimmed.skipped_rows, c.skipped) << c.what;
    EXPECT_EQ(trimmed.width, 211u);
    EXPECT_EQ(trimmed.height, 143u);
    const decoded_image whole = decode_plain(file, {});
    const decoded_image part = decode_plain(rebuilt(trimmed), {});
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
      {"no restart markers", recipe_of(211, 143, 3, 2, 2, false, 0), 120},
      {"progressive", recipe_of(211, 143, 3, 2, 2, true, 1), 120},
      {"row in the first two MCU rows", recipe_of(211, 143, 3, 2, 2, false, 1), 31},
      {"row in the first interval", recipe_of(211, 143, 3, 2, 2, false, 4), 70},
  };
  for (const auto &c : cases) {
    const std::vector<unsigned char> file = encode_jpeg(c.recipe);
    trimmed_jpeg trimmed;
    EXPECT_FALSE(trim_rows_above(file.data(), file.size(), c.first_row, read_by_libjpeg(file), trimmed)) << c.what;
    EXPECT_EQ(trimmed.size, 0u) << c.what;
  }
  // Damaged headers and data.
  std::vector<unsigned char> file = encode_jpeg(recipe_of(211, 143, 3, 2, 2, false, 1));
  const frame_as_read frame = read_by_libjpeg(file);
  trimmed_jpeg trimmed;
  for (std::size_t cut : {std::size_t{0}, std::size_t{3}, std::size_t{100}, file.size() / 2}) {
    EXPECT_FALSE(trim_rows_above(file.data(), cut, 130, frame, trimmed)) << cut;
  }
  // A frame that libjpeg reads otherwise than the walk: no trimming.
  frame_as_read other = frame;
  other.restart_interval += 1;
  EXPECT_FALSE(trim_rows_above(file.data(), file.size(), 130, other, trimmed));
}


}  // namespace
