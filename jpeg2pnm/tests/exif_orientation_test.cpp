// --auto-orient: photos with each EXIF orientation, in both byte orders,
// come out as the plain decode turned by the elementary moves EXIF names
// (mirror, flip, transpose), with every option; a crop is in the upright
// image; a damaged block is ignored with a warning; the reader never
// reads past a block.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "input/exif_orientation.h"
#include "jpeg_fixtures.h"
#include "image_program.h"
#include "pnm_file.h"

namespace {

using bytes = std::vector<unsigned char>;

// An APP1 "Exif" segment whose IFD0 holds one entry, tag 0x0112.
bytes exif_segment(unsigned orientation, bool big_endian, unsigned type = 3, unsigned count = 1) {
  const auto u16 = [&](bytes &b, unsigned v) {
    b.push_back(static_cast<unsigned char>(big_endian ? v >> 8 : v));
    b.push_back(static_cast<unsigned char>(big_endian ? v : v >> 8));
  };
  const auto u32 = [&](bytes &b, unsigned v) {
    if (big_endian) {
      u16(b, v >> 16), u16(b, v & 0xFFFF);
    } else {
      u16(b, v & 0xFFFF), u16(b, v >> 16);
    }
  };
  bytes tiff = {static_cast<unsigned char>(big_endian ? 'M' : 'I'), static_cast<unsigned char>(big_endian ? 'M' : 'I')};
  u16(tiff, 42), u32(tiff, 8), u16(tiff, 1);
  u16(tiff, 0x0112), u16(tiff, type), u32(tiff, count), u16(tiff, orientation), u16(tiff, 0), u32(tiff, 0);
  bytes segment = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  for (const unsigned char b : tiff) segment.push_back(b);
  segment[2] = static_cast<unsigned char>((segment.size() - 2) >> 8);
  segment[3] = static_cast<unsigned char>(segment.size() - 2);
  return segment;
}

bytes with_segment(const bytes &file, const bytes &segment) {
  bytes out(file.begin(), file.begin() + 2);
  for (const unsigned char b : segment) out.push_back(b);
  for (std::size_t i = 2; i < file.size(); ++i) out.push_back(file[i]);
  return out;
}

pnm_image decode(const bytes &file, const convert_options &options, convert_result *result = nullptr) {
  convert_result r;
  const pnm_image image = decode_in_memory(file, options, &r);
  if (result != nullptr) *result = r;
  return image;
}

// The moves EXIF names, one at a time.
pnm_image transposed(const pnm_image &in) {
  pnm_image out = in;
  std::swap(out.width, out.height);
  for (unsigned y = 0; y < out.height; ++y) {
    for (unsigned x = 0; x < out.width; ++x) {
      for (unsigned c = 0; c < in.depth; ++c) {
        out.pixels[(y * out.width + x) * in.depth + c] = in.pixels[(x * in.width + y) * in.depth + c];
      }
    }
  }
  return out;
}

pnm_image flipped(const pnm_image &in, bool across) {  // across: left-right, else top-bottom
  pnm_image out = in;
  for (unsigned y = 0; y < in.height; ++y) {
    for (unsigned x = 0; x < in.width; ++x) {
      const unsigned sx = across ? in.width - 1 - x : x, sy = across ? y : in.height - 1 - y;
      for (unsigned c = 0; c < in.depth; ++c) {
        out.pixels[(y * in.width + x) * in.depth + c] = in.pixels[(sy * in.width + sx) * in.depth + c];
      }
    }
  }
  return out;
}

pnm_image upright(const pnm_image &stored, int orientation) {
  switch (orientation) {
    case 2: return flipped(stored, true);
    case 3: return flipped(flipped(stored, true), false);
    case 4: return flipped(stored, false);
    case 5: return transposed(stored);
    case 6: return flipped(transposed(stored), true);
    case 7: return flipped(flipped(transposed(stored), true), false);
    case 8: return flipped(transposed(stored), false);
    default: return stored;
  }
}

pnm_image region(const pnm_image &in, unsigned x, unsigned y, unsigned w, unsigned h) {
  pnm_image out = in;
  out.width = w, out.height = h;
  out.pixels.clear();
  for (unsigned row = y; row < y + h; ++row) {
    const auto *start = in.pixels.data() + (row * in.width + x) * in.depth;
    out.pixels.insert(out.pixels.end(), start, start + w * in.depth);
  }
  return out;
}

TEST(auto_orient, every_orientation_and_option_turns_the_plain_decode) {
  const struct {
    const char *what;
    int components;
    void (*set)(convert_options &);
  } settings[] = {
      {"colour", 3, [](convert_options &) {}},
      {"scaled 3/8", 3, [](convert_options &o) { o.scale_num = 3, o.scale_denom = 8; }},
      {"gray from colour", 3, [](convert_options &o) { o.grayscale = true; }},
      {"quantised", 3, [](convert_options &o) { o.colors = 16; }},
      {"CMYK", 4, [](convert_options &) {}},
      {"CMYK to RGB", 4, [](convert_options &o) { o.rgb = true; }},
  };
  for (const auto &s : settings) {
    const bytes plain_file = encode_jpeg(recipe_of(45, 29, s.components, 2, 1));
    convert_options plain_options;
    s.set(plain_options);
    const pnm_image plain = decode(plain_file, plain_options);
    for (int orientation = 1; orientation <= 8; ++orientation) {
      for (const bool big_endian : {false, true}) {
        const bytes file = with_segment(plain_file, exif_segment(static_cast<unsigned>(orientation), big_endian));
        convert_options o = plain_options;
        o.auto_orient = true;
        const pnm_image turned = decode(file, o);
        const pnm_image expected = upright(plain, orientation);
        const std::string what = std::string(s.what) + ", orientation " + std::to_string(orientation) +
                                 (big_endian ? ", MM" : ", II");
        EXPECT_EQ(turned.width, expected.width) << what;
        EXPECT_EQ(turned.height, expected.height) << what;
        EXPECT_TRUE(turned.pixels == expected.pixels) << what;
        // A crop is the same region of the upright image (dithering
        // depends on the region, so quantised crops differ anyway).
        if (o.colors > 0) continue;
        o.crop_width = 7, o.crop_height = 5, o.crop_x = 2, o.crop_y = 3;
        const pnm_image cropped = decode(file, o);
        EXPECT_TRUE(cropped.pixels == region(expected, 2, 3, 7, 5).pixels) << what << ", cropped";
        // Without --auto-orient the tag changes nothing.
        EXPECT_TRUE(decode(file, plain_options).pixels == plain.pixels) << what;
      }
    }
  }
}

TEST(auto_orient, damaged_blocks_are_ignored_with_a_reason) {
  const bytes plain_file = encode_jpeg(recipe_of(30, 20, 3));
  const struct {
    bytes segment;
    const char *damage;
  } cases[] = {
      {exif_segment(9, false), "its Orientation is 9, not one of 1 to 8"},
      {exif_segment(6, true, 4), "its Orientation is stored as LONG, not as a SHORT"},
      {exif_segment(6, true, 13), "its Orientation is stored as type 13, not as a SHORT"},
      {exif_segment(6, false, 3, 2), "its Orientation holds 2 values, not one"},
      {bytes{0xFF, 0xE1, 0x00, 0x0A, 'E', 'x', 'i', 'f', 0, 0, 'X', 'X'}, "its TIFF header is cut short"},
      {bytes{0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 0xF0, 0, 0, 0}, "its first directory lies outside it"},
      {bytes{0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0}, "its first directory lies outside it"},
      {bytes{0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f', 0, 0, 'Q', 'Q', 42, 0, 8, 0, 0, 0}, "its TIFF header names no byte order"},
  };
  convert_options o;
  o.auto_orient = true;
  const pnm_image plain = decode(plain_file, o);
  for (const auto &c : cases) {
    convert_result r;
    const pnm_image got = decode(with_segment(plain_file, c.segment), o, &r);
    EXPECT_TRUE(r.ok) << c.damage;
    EXPECT_EQ(r.exif_damage, c.damage);
    EXPECT_EQ(r.warnings, 0) << c.damage;
    EXPECT_TRUE(got.pixels == plain.pixels) << c.damage;
  }
  // A crop outside the upright image names the upright size.
  convert_result r;
  o.crop_width = 25, o.crop_height = 5;
  decode(with_segment(plain_file, exif_segment(6, false)), o, &r);
  EXPECT_EQ(r.message, "--crop 25x5+0+0 passes the right edge of the 20x30 image (upright); --crop 20x5+0+0 fits there");
  // Turning holds the whole image, within --max-memory.
  convert_options small;
  small.auto_orient = true;
  small.max_memory_mib = 1;
  decode(with_segment(encode_jpeg(recipe_of(1000, 600, 3)), exif_segment(6, true)), small, &r);
  EXPECT_EQ(r.message, "the 1000x600 image needs 2 MiB to be turned upright, over the limit of 1 MiB; "
                       "--max-memory MIB raises it, 0 lifts it");
  // A progressive file holds its coefficients too (4 MiB): each alone fits
  // in 5 MiB, both together do not.
  small.max_memory_mib = 5;
  decode(with_segment(encode_jpeg(recipe_of(1000, 600, 3, 1, 1, true)), exif_segment(6, true)), small, &r);
  EXPECT_EQ(r.message, "the 1000x600 image needs 2 MiB to be turned upright besides 4 MiB of working memory, "
                       "over the limit of 5 MiB; --max-memory MIB raises it, 0 lifts it");
  // A limit past what a shift by 20 bits holds is no limit to overflow.
  for (const std::uint64_t huge : {std::uint64_t{1} << 44, std::uint64_t{INT64_MAX}}) {
    small.max_memory_mib = huge;
    decode(with_segment(encode_jpeg(recipe_of(61, 43, 3)), exif_segment(6, true)), small, &r);
    EXPECT_TRUE(r.ok) << huge << ": " << r.message;
  }
}

}  // namespace
