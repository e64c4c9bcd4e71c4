#include "input/marker_walk.h"

#include <gtest/gtest.h>

#include "jpeg_edits.h"
#include "jpeg_fixtures.h"
#include "reference_decode.h"

namespace {

using namespace jpeg_edits;

struct walked {
  unsigned width = 0, height = 0, restart_interval = 0;
  int scans = 0;
  bool failed = false;
};

// What the walk finds: the frame's size, the restart interval in force at
// the first scan, and the scans.
walked walk_file(const bytes &file) {
  walked w;
  marker_walk walk = start_marker_walk(file.data(), file.size());
  for (jpeg_marker m; next_marker(walk, m);) {
    const unsigned char *p = file.data() + m.payload;
    if ((m.code == 0xC0 || m.code == 0xC1 || m.code == 0xC2) && m.length >= 5) {
      w.height = static_cast<unsigned>(p[1] << 8 | p[2]);
      w.width = static_cast<unsigned>(p[3] << 8 | p[4]);
    } else if (m.code == 0xDD && m.length == 2 && w.scans == 0) {
      w.restart_interval = static_cast<unsigned>(p[0] << 8 | p[1]);
    } else if (m.code == 0xDA) {
      ++w.scans;
    }
  }
  w.failed = walk.failed;
  return w;
}

// The same, as libjpeg reads it: the header's fields, and the scans counted
// by consuming the whole input in buffered-image mode.
walked read_file_with_libjpeg(const bytes &file) {
  memory_decompressor d(file);
  walked w;
  w.width = d.cinfo.image_width;
  w.height = d.cinfo.image_height;
  w.restart_interval = d.cinfo.restart_interval;
  d.cinfo.buffered_image = TRUE;
  jpeg_start_decompress(&d.cinfo);
  while (jpeg_consume_input(&d.cinfo) != JPEG_REACHED_EOI) {
  }
  w.scans = d.cinfo.input_scan_number;
  return w;
}

// The walk agrees with libjpeg on every file, the odd ones that a walker of
// its own ways would misread included.
TEST(marker_walk, reads_segments_as_libjpeg_does) {
  const bytes baseline = encode_jpeg(recipe_of(211, 143, 3, 2, 2, false, 1));
  const bytes progressive = encode_jpeg(recipe_of(211, 143, 3, 2, 2, true, 0));
  const bytes gray = encode_jpeg(recipe_of(211, 143, 1, 1, 1, false, 2));
  const bytes empty_comment = {0xFF, 0xFE, 0x00, 0x00};
  const bytes fake_dri = {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x07};
  struct case_file {
    std::string what;
    bytes file;
  };
  std::vector<case_file> cases = {
      {"baseline with restarts", baseline},
      {"progressive", progressive},
      {"gray", gray},
      {"a comment of length 0 before the scans", inserted_before(progressive, 0xDA, empty_comment)},
      {"a comment of length 1 before the frame", inserted_before(baseline, 0xC0, {0xFF, 0xFE, 0x00, 0x01})},
      // Read as a segment with a length, the restart marker would land on
      // the DRI inside the comment.
      {"a fake DRI behind a restart marker",
       inserted_before(baseline, 0xC0,
                       {0xFF, 0xD3, 0x00, 0x06, 0xFF, 0xFE, 0x00, 0x08, 0xFF, 0xDD, 0x00, 0x04, 0x00, 0x07})},
      {"TEM before the frame", inserted_before(baseline, 0xC0, {0xFF, 0x01})},
      {"fill bytes before markers", inserted_before(progressive, 0xDA, {0xFF, 0xFF, 0xFF})},
      {"garbage between segments", inserted_before(baseline, 0xC4, {0x12, 0x34, 0x00})},
      {"a stuffed zero between segments", inserted_before(gray, 0xDB, {0xFF, 0x00})},
      {"a second DRI after the frame", inserted_before(baseline, 0xDA, fake_dri)},
      {"an empty APP1", inserted_before(gray, 0xC0, {0xFF, 0xE1, 0x00, 0x02})},
  };
  // And files with one header byte changed: those libjpeg still reads.
  std::uint32_t random = 12345;
  const std::size_t header = inserted_before(baseline, 0xDA, {}).size() - 1;
  for (int i = 0; i < 400; ++i) {
    random = random * 1103515245 + 12345;
    bytes mutated = baseline;
    mutated[2 + (random >> 8) % (header - 2)] = static_cast<unsigned char>(random >> 24);
    cases.push_back({"header byte changed, seed " + std::to_string(i), mutated});
  }
  int compared = 0;
  for (const auto &c : cases) {
    const walked ours = walk_file(c.file);
    walked theirs;
    try {
      theirs = read_file_with_libjpeg(c.file);
    } catch (const jpeg_failure &f) {
      EXPECT_NE(c.what.rfind("header byte", 0), std::string::npos) << c.what << ": libjpeg refused it: " << f.message;
      continue;
    }
    ++compared;
    EXPECT_FALSE(ours.failed) << c.what;
    EXPECT_EQ(ours.width, theirs.width) << c.what;
    EXPECT_EQ(ours.height, theirs.height) << c.what;
    EXPECT_EQ(ours.restart_interval, theirs.restart_interval) << c.what;
    EXPECT_EQ(ours.scans, theirs.scans) << c.what;
  }
  EXPECT_GT(compared, 100);
}

}  // namespace
