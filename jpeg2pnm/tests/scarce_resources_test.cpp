// jpeg2pnm on machines unlike the test's: more processors (a preloaded
// library reports 16), no threads to be had (ulimit -u as another user),
// too little memory (ulimit -v), and an input that shrinks while it is
// decoded. Every run ends with the images
// written, or with one line and status 1: never an abort, a hang or a
// decode that takes what its limits refuse.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "image_program.h"
#include "jpeg_fixtures.h"
#include "under_sanitizer.h"

namespace {

namespace fs = std::filesystem;

#ifdef TAMLO_UNDER_SANITIZER
constexpr bool sanitized = true;
// A sanitizer's runtime must come first among the libraries, and its leak
// check needs a thread of its own at exit.
const std::string sixteen = "env ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 LD_PRELOAD=" SIXTEEN_PROCESSORS " ";
#else
constexpr bool sanitized = false;
const std::string sixteen = "env LD_PRELOAD=" SIXTEEN_PROCESSORS " ";
#endif

class scarce_resources : public image_program {
 protected:
  // Runs `command` in dir_ under GNU time: its status, and its peak
  // resident memory in MiB. (Taken by a small program of its own: a child
  // of the test would count the test's memory from before its exec.)
  int peak_run(const std::string &command, long &peak_mib) {
    const int status = shell("cd '" + dir_.string() + "' && /usr/bin/time -f %M -o peak " + command);
    peak_mib = std::stol("0" + slurp(dir_ / "peak")) / 1024;
    return status;
  }
};

// A recipe whose samples are all one grey: large images in small files.
image_recipe flat(int width, int height) {
  image_recipe r = recipe_of(width, height, 3, 2, 2, false, 1);
  r.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 128);
  return r;
}


// On 16 processors, strips only for files they suit: a sequential file in
// three scans holds every coefficient, which each strip would read and
// hold (16 x 30 MB); a photo-like row-restart file is shared by the strips,
// not copied by each. The bytes are those of the one-thread decode.
TEST_F(scarce_resources, strips_on_sixteen_processors_stay_within_one_decodes_memory) {
  if (access("/usr/bin/time", X_OK) != 0) GTEST_SKIP() << "GNU time (Debian's time) is not installed";
  image_recipe scans = flat(3200, 3200);
  scans.scan_per_component = true;
  write_file(dir_ / "scans.jpg", encode_jpeg(scans));
  image_recipe photo = recipe_of(3000, 2000, 3, 2, 2, false, 1);
  photo.quality = 98;
  write_file(dir_ / "photo.jpg", encode_jpeg(photo));
  const struct {
    const char *input, *options;
    long most_mib;
  } cases[] = {
      {"scans.jpg", "", 120},
      {"scans.jpg", "--max-memory 30", 120},
      {"photo.jpg", "", 24},
  };
  for (const auto &c : cases) {
    const std::string what = std::string(c.input) + " " + c.options;
    ASSERT_EQ(run(std::string(c.options) + " " + c.input + " | cat > piped.pnm"), 0) << what << err_;
    long peak = 0;
    EXPECT_EQ(peak_run(sixteen + JPEG2PNM_PATH + " " + c.options + " -o file.pnm " + c.input, peak), 0) << what;
    EXPECT_TRUE(read_file(dir_ / "file.pnm") == read_file(dir_ / "piped.pnm")) << what;
    if (sanitized) {
      std::printf("%s: %ld MiB at the peak; not held to %ld under a sanitizer\n", what.c_str(), peak, c.most_mib);
    } else {
      EXPECT_LE(peak, c.most_mib) << what;
    }
  }
}

// No thread can start (as user 65534 with one process allowed): the writer, the
// strips, the progress line and a batch's jobs run on the calling thread,
// with the same bytes.
TEST_F(scarce_resources, no_threads_to_be_had_means_decoding_on_the_calling_thread) {
  if (getuid() != 0) GTEST_SKIP() << "needs root, to run as another user with setpriv";
#ifdef TAMLO_UNDER_THREAD_SANITIZER
  GTEST_SKIP() << "ThreadSanitizer starts a thread of its own, which one process allowed refuses";
#endif
  fs::permissions(dir_, fs::perms::all);
  write_file(dir_ / "a.jpg", encode_jpeg(recipe_of(301, 237, 3, 2, 2, false, 1)));
  write_file(dir_ / "b.jpg", encode_jpeg(recipe_of(40, 30, 3)));
  ASSERT_EQ(run("a.jpg | cat > a.ref && " JPEG2PNM_PATH " b.jpg | cat > b.ref"), 0) << err_;
  const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups prlimit --nproc=1 " + sixteen;
  for (const char *arguments : {"-o a.ppm a.jpg", "-j 4 --progress -d out a.jpg b.jpg"}) {
    EXPECT_EQ(shell("cd '" + dir_.string() + "' && " + nobody + JPEG2PNM_PATH + " " + arguments + " 2>err"), 0)
        << arguments << ": " << slurp(dir_ / "err");
  }
  EXPECT_TRUE(read_file(dir_ / "a.ppm") == read_file(dir_ / "a.ref"));
  EXPECT_TRUE(read_file(dir_ / "out" / "a.ppm") == read_file(dir_ / "a.ref"));
  EXPECT_TRUE(read_file(dir_ / "out" / "b.ppm") == read_file(dir_ / "b.ref"));
}

// Too little memory: the image that needs more fails with the one line,
// and a batch goes on with the next file, whatever thread ran out.
TEST_F(scarce_resources, memory_that_runs_out_is_one_line_and_the_batch_goes_on) {
  if (sanitized) GTEST_SKIP() << "a sanitizer's shadow memory cannot start under ulimit -v";
  // 8000x8000 turned upright needs 183 MiB beside the decode.
  std::vector<unsigned char> big = encode_jpeg(flat(8000, 8000));
  const unsigned char exif[] = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
                                0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, 6, 0, 0, 0, 0, 0, 0};
  big.insert(big.begin() + 2, std::begin(exif), std::end(exif));
  write_file(dir_ / "big.jpg", big);
  fs::create_directory(dir_ / "many");
  for (int i = 0; i < 100; ++i) {
    write_file(dir_ / "many" / (std::to_string(i) + ".jpg"), encode_jpeg(recipe_of(64 + i, 48, 3)));
  }
  const std::string limited = "cd '" + dir_.string() + "' && ulimit -v 150000 && " + sixteen + "timeout 60 " + JPEG2PNM_PATH;
  EXPECT_EQ(shell(limited + " --auto-orient -d out many/0.jpg big.jpg many/1.jpg 2>err"), 1);
  EXPECT_EQ(slurp(dir_ / "err"), "jpeg2pnm: big.jpg: out of memory; decode it on a machine with more, or lower the "
                                 "limits\n");
  EXPECT_EQ(listing(dir_ / "out"), (std::vector<std::string>{"0.ppm", "1.ppm"}));
  // 64 jobs in 146 MiB: threads that cannot start leave their files to the
  // others, and an image that finds no memory is named; every file is
  // written or named, and no run dies.
  const int status = shell(limited + " -j 64 -d out64 many/*.jpg 2>err");
  EXPECT_TRUE(status == 0 || status == 1) << status;
  const std::string said = slurp(dir_ / "err");
  for (int i = 0; i < 100; ++i) {
    const std::string name = std::to_string(i);
    const bool named = said.find("jpeg2pnm: many/" + name + ".jpg: out of memory;") != std::string::npos;
    EXPECT_NE(fs::exists(dir_ / "out64" / (name + ".ppm")), named) << name << "\n" << said;
  }
}

// A mapped input (a megabyte or more) cut short in the middle of its
// decode: one line, and the process ends by the signal. The decode is held
// by a FIFO nobody reads until the file has shrunk.
TEST_F(scarce_resources, an_input_that_shrinks_under_the_decode_is_one_line) {
  write_file(dir_ / "big.jpg", encode_jpeg(recipe_of(3000, 2000, 3, 2, 2, false)));
  ASSERT_GE(fs::file_size(dir_ / "big.jpg"), 1u << 20);
  // The FIFO is opened for reading and writing first, so that opening it
  // for jpeg2pnm's output does not wait for a reader.
  ASSERT_EQ(shell("cd '" + dir_.string() + "' && mkfifo held && exec 3<>held && { " JPEG2PNM_PATH
                  " big.jpg > held 2>err & } && pid=$! && sleep 1 && truncate -s 2000 big.jpg && "
                  "{ cat <&3 > /dev/null & } && wait $pid; echo $? > status; kill $!"),
            0);
  EXPECT_EQ(slurp(dir_ / "status"), "135\n");  // killed by SIGBUS
  EXPECT_EQ(slurp(dir_ / "err"), "jpeg2pnm: an input file shrank while it was being decoded; the outputs of "
                                 "unfinished images were removed\n");
}

// One image's bytes however its input arrives: mapped (a file of a
// megabyte or more), read (a pipe, a small file), or one job's input
// memory and blocks reused across a batch of images of different sizes.
TEST_F(scarce_resources, mapped_read_and_reused_inputs_give_the_same_bytes) {
  write_file(dir_ / "big.jpg", encode_jpeg(recipe_of(3000, 2000, 3, 2, 2, false)));
  ASSERT_GE(fs::file_size(dir_ / "big.jpg"), 1u << 20);
  write_file(dir_ / "small.jpg", encode_jpeg(recipe_of(301, 237, 3, 2, 1, false)));
  write_file(dir_ / "wide.jpg", encode_jpeg(recipe_of(5000, 16, 3, 1, 1, false)));
  for (const char *name : {"big", "small", "wide"}) {
    const std::string n = name;
    ASSERT_EQ(run(n + ".jpg > " + n + ".ref"), 0) << err_;
    const struct {
      const char *how;
      std::string command;
    } ways[] = {
        {"a pipe", "cat " + n + ".jpg | " JPEG2PNM_PATH " > piped.ppm"},
        {"standard input on the file", JPEG2PNM_PATH " - < " + n + ".jpg > piped.ppm"},
        {"a FIFO", "mkfifo fifo && { cat " + n + ".jpg > fifo & } && " JPEG2PNM_PATH " fifo > piped.ppm; rm fifo"},
    };
    for (const auto &way : ways) {
      ASSERT_EQ(shell("cd '" + dir_.string() + "' && " + way.command), 0) << name << " through " << way.how;
      EXPECT_TRUE(read_file(dir_ / "piped.ppm") == read_file(dir_ / (n + ".ref"))) << name << " through " << way.how;
    }
  }
  ASSERT_EQ(run("-j 1 -d out small.jpg big.jpg wide.jpg"), 0) << err_;
  for (const char *name : {"big", "small", "wide"}) {
    EXPECT_TRUE(read_file(dir_ / "out" / (std::string(name) + ".ppm")) == read_file(dir_ / (std::string(name) + ".ref")))
        << name;
  }
}

}  // namespace
