// jpeg2pnm on several threads, in strips, against the one-thread decode.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "image_program.h"
#include "jpeg_fixtures.h"
#include "test_fs_mount.h"

namespace {

namespace fs = std::filesystem;

class strips : public image_program {};


// Files with a restart marker every MCU row decode in strips on several
// threads when written to a file; through a pipe, on one thread. Both give
// the same bytes for every layout and option, and a damaged file, whose
// strips warn, is decoded whole.
TEST_F(strips, give_the_bytes_of_the_whole_decode) {
  const struct {
    image_recipe recipe;
    const char *options;
  } cases[] = {
      {recipe_of(301, 237, 3, 2, 2, false, 1), ""},
      {recipe_of(301, 237, 3, 2, 2, false, 1), "--scale 3/8"},
      {recipe_of(301, 237, 3, 2, 2, false, 1), "--scale 13/8"},
      {recipe_of(301, 237, 3, 2, 2, false, 1), "--crop 101x150+37+41"},
      {recipe_of(301, 237, 3, 2, 2, false, 1), "--grayscale --scale 1/2"},
      {recipe_of(301, 237, 3, 2, 1, false, 2), "--nosmooth"},
      {recipe_of(301, 237, 3, 1, 2, false, 1), "--dct float"},
      {recipe_of(301, 237, 3, 1, 1, false, 3), ""},
      {recipe_of(257, 245, 1, 1, 1, false, 1), "--scale 5/8"},
      {recipe_of(257, 245, 4, 1, 1, false, 1), ""},
      {recipe_of(257, 245, 4, 1, 1, false, 1), "--rgb --crop 99x98+7+100"},
      {recipe_of(301, 237, 3, 2, 2, false, 1), "--colors 32"},
  };
  for (const auto &c : cases) {
    write_file(dir_ / "in.jpg", encode_jpeg(c.recipe));
    const std::string options = std::string(c.options) + " in.jpg";
    ASSERT_EQ(run(options + " -o file.pnm"), 0) << c.options << ": " << err_;
    ASSERT_EQ(run("-j 1 -d batch " + options), 0) << c.options << ": " << err_;
    ASSERT_EQ(run(options + " 2>piped.err | cat > piped.pnm"), 0) << c.options;
    EXPECT_EQ(slurp(dir_ / "piped.err"), "") << c.options;
    const auto whole = read_file(dir_ / "piped.pnm");
    EXPECT_TRUE(read_file(dir_ / "file.pnm") == whole) << c.options;
    for (const auto &e : fs::directory_iterator(dir_ / "batch")) {
      EXPECT_TRUE(read_file(e.path()) == whole) << c.options;
    }
    fs::remove_all(dir_ / "batch");
  }
  // A damaged interval: the strip that holds it warns, and the image is
  // decoded whole, as through a pipe, with the warning.
  std::vector<unsigned char> damaged = encode_jpeg(recipe_of(301, 237, 3, 2, 2, false, 1));
  for (std::size_t i = damaged.size() * 2 / 3; i < damaged.size() * 2 / 3 + 40; ++i) damaged[i] ^= 0x5A;
  write_file(dir_ / "damaged.jpg", damaged);
  EXPECT_EQ(run("damaged.jpg 2>piped.err | cat > piped.pnm"), 0);
  EXPECT_EQ(run("damaged.jpg -o file.pnm"), 3) << err_;
  EXPECT_EQ(err_, slurp(dir_ / "piped.err"));
  EXPECT_TRUE(read_file(dir_ / "file.pnm") == read_file(dir_ / "piped.pnm"));
  // A file system that takes a few bytes a write: every write, the strips'
  // header too, is carried on to its end.
  const test_fs_mount short_writes(dir_ / "short", "--short-writes");
  if (!short_writes.skip_reason.empty()) {
    std::printf("short writes not tried: %s\n", short_writes.skip_reason.c_str());
    return;
  }
  write_file(dir_ / "in.jpg", encode_jpeg(recipe_of(301, 237, 3, 2, 2, false, 1)));
  ASSERT_EQ(run("in.jpg | cat > piped.pnm"), 0);
  EXPECT_EQ(run("in.jpg -o short/file.pnm"), 0) << err_;
  EXPECT_TRUE(read_file(dir_ / "short" / "file.pnm") == read_file(dir_ / "piped.pnm"));
}

}  // namespace
