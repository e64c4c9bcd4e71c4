// The programs' output files against real file-system objects: modes
// under a umask, existing files, hard and symbolic links, FIFOs and
// devices, the input itself, closed standard descriptors, signals in the
// middle of a decode, and full, read-only and failing file systems; tried
// through jpeg2pnm, and through tonetool where its way differs.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "jpeg_fixtures.h"
#include "program_test.h"
#include "reference_decode.h"
#include "scoped_mount.h"
#include "test_fs_mount.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

// Two tone records: A1 for 5 units, then a pause.
const std::string tone_records("\x0D\x51\x05\x00\x00\x05", 6);

std::string bytes_of(const std::vector<unsigned char> &v) { return {v.begin(), v.end()}; }

struct stat status_of(const fs::path &p) {
  struct stat st {};
  EXPECT_EQ(lstat(p.c_str(), &st), 0) << p;
  return st;
}

mode_t mode_of(const fs::path &p) { return status_of(p).st_mode & 07777; }

class output_files : public program_test {
 protected:
  void SetUp() override {
    program_test::SetUp();
    image_recipe recipe;
    recipe.width = 21;
    recipe.height = 13;
    jpeg_ = bytes_of(encode_jpeg(recipe));
    write_file(dir_ / "in.jpg", jpeg_);
    // The PPM file jpeg2pnm writes for in.jpg.
    const decoded_image plain = decode_plain(encode_jpeg(recipe), {});
    ppm_ = "P6\n21 13\n255\n" + std::string(plain.pixels.begin(), plain.pixels.end());
  }

  // Runs `jpeg2pnm ARGUMENTS` in dir_ through sh, with a umask.
  int run(const std::string &arguments, const char *umask_value = "022") {
    const std::string command = "cd '" + dir_.string() + "' && umask " + umask_value + " && " +
                                JPEG2PNM_PATH + " " + arguments + " 2>'" + (dir_ / "err").string() + "'";
    const int status = shell(command);
    err_ = slurp(dir_ / "err");
    fs::remove(dir_ / "err");
    return status;
  }

  std::string jpeg_, ppm_, err_;
};

TEST_F(output_files, new_files_get_the_mode_of_a_shell_redirection) {
  fs::create_directory(dir_ / "in");
  std::string inputs;
  for (int i = 0; i < 300; ++i) {
    write_file(dir_ / "in" / ("p" + std::to_string(i) + ".jpg"), jpeg_);
  }
  for (const char *mask : {"022", "077", "002"}) {
    const mode_t expected = 0666 & ~static_cast<mode_t>(std::stoi(mask, nullptr, 8));
    for (const int jobs : {1, 8}) {
      fs::remove_all(dir_ / "out");
      ASSERT_EQ(run("-j " + std::to_string(jobs) + " -d out in/*.jpg", mask), 0) << err_;
      const auto names = listing(dir_ / "out");
      ASSERT_EQ(names.size(), 300u) << mask << " -j " << jobs;
      int wrong = 0;
      for (const auto &name : names) wrong += mode_of(dir_ / "out" / name) != expected;
      EXPECT_EQ(wrong, 0) << "umask " << mask << " -j " << jobs;
      // The folder -d made is a new folder under the same umask.
      EXPECT_EQ(mode_of(dir_ / "out"), 0777 & ~static_cast<mode_t>(std::stoi(mask, nullptr, 8)));
    }
    fs::remove(dir_ / "one.ppm");
    ASSERT_EQ(run("-o one.ppm in.jpg", mask), 0) << err_;
    EXPECT_EQ(mode_of(dir_ / "one.ppm"), expected) << mask;
  }
}

TEST_F(output_files, an_existing_file_keeps_its_mode_owner_and_links) {
  write_file(dir_ / "old.ppm", "old content");
  chmod((dir_ / "old.ppm").c_str(), 0640);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown((dir_ / "old.ppm").c_str(), 1234, 5678), 0);
  }
  const ino_t inode_before = status_of(dir_ / "old.ppm").st_ino;
  ASSERT_EQ(run("-o old.ppm in.jpg", "077"), 0) << err_;
  EXPECT_EQ(slurp(dir_ / "old.ppm"), ppm_);
  EXPECT_EQ(mode_of(dir_ / "old.ppm"), 0640u);
  if (root) {
    EXPECT_EQ(status_of(dir_ / "old.ppm").st_uid, 1234u);
    EXPECT_EQ(status_of(dir_ / "old.ppm").st_gid, 5678u);
  } else {
    std::printf("not root: the owner of a replaced file is not checked\n");
  }
  // Replaced by a rename: a reader holding the old file keeps the old one.
  EXPECT_NE(status_of(dir_ / "old.ppm").st_ino, inode_before);

  // With other hard links, every name shows the new image.
  write_file(dir_ / "a.ppm", "old content");
  fs::create_hard_link(dir_ / "a.ppm", dir_ / "b.ppm");
  ASSERT_EQ(run("-o a.ppm in.jpg"), 0) << err_;
  EXPECT_EQ(slurp(dir_ / "a.ppm"), ppm_);
  EXPECT_EQ(slurp(dir_ / "b.ppm"), ppm_);
  EXPECT_EQ(status_of(dir_ / "a.ppm").st_ino, status_of(dir_ / "b.ppm").st_ino);
  EXPECT_EQ(status_of(dir_ / "a.ppm").st_nlink, 2u);
  // A failed decode leaves every name as it was.
  write_file(dir_ / "bad.jpg", "not a jpeg");
  EXPECT_EQ(run("-o a.ppm bad.jpg"), 1);
  EXPECT_EQ(slurp(dir_ / "b.ppm"), ppm_);
}

TEST_F(output_files, symbolic_links_are_followed_and_stay_links) {
  fs::create_directory(dir_ / "real");
  write_file(dir_ / "real" / "target.ppm", "old");
  fs::create_symlink("real/target.ppm", dir_ / "link.ppm");
  fs::create_symlink("link.ppm", dir_ / "link_to_link.ppm");
  fs::create_symlink("real/new.ppm", dir_ / "dangling.ppm");
  for (const char *link : {"link.ppm", "link_to_link.ppm"}) {
    write_file(dir_ / "real" / "target.ppm", "old");
    ASSERT_EQ(run(std::string("-o ") + link + " in.jpg"), 0) << err_;
    EXPECT_TRUE(fs::is_symlink(dir_ / link)) << link;
    EXPECT_EQ(slurp(dir_ / "real" / "target.ppm"), ppm_) << link;
  }
  ASSERT_EQ(run("-o dangling.ppm in.jpg"), 0) << err_;
  EXPECT_TRUE(fs::is_symlink(dir_ / "dangling.ppm"));
  EXPECT_EQ(slurp(dir_ / "real" / "new.ppm"), ppm_);
  EXPECT_EQ(listing(dir_ / "real"), (std::vector<std::string>{"new.ppm", "target.ppm"}));
}

TEST_F(output_files, a_fifo_or_device_is_written_directly) {
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  // A reader on the FIFO, as a player or another program would be.
  const std::string d = "'" + dir_.string() + "'";
  ASSERT_EQ(shell("cd " + d + " && { " + JPEG2PNM_PATH + " -o fifo in.jpg & cat fifo > captured; wait $!; }"),
            0);
  EXPECT_TRUE(S_ISFIFO(status_of(dir_ / "fifo").st_mode));
  EXPECT_EQ(slurp(dir_ / "captured"), ppm_);

  if (mknod((dir_ / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    GTEST_SKIP() << "cannot make a character device here (needs root): " << std::strerror(errno);
  }
  ASSERT_EQ(run("-o null in.jpg"), 0) << err_;
  EXPECT_TRUE(S_ISCHR(status_of(dir_ / "null").st_mode));
  EXPECT_EQ(status_of(dir_ / "null").st_rdev, makedev(1, 3));
}

TEST_F(output_files, the_input_itself_is_refused_as_output) {
  fs::create_symlink("in.jpg", dir_ / "alias.ppm");
  fs::create_directory(dir_ / "out");
  write_file(dir_ / "out" / "x.ppm", jpeg_);  // a JPEG file named .ppm
  const struct {
    const char *arguments;
    const char *input;
    std::string message;
  } cases[] = {
      {"-o alias.ppm in.jpg", "in.jpg",
       "jpeg2pnm: in.jpg: the output alias.ppm is this input file itself; choose another output\n"},
      {"-o alias.ppm alias.ppm", "in.jpg",
       "jpeg2pnm: alias.ppm: the output alias.ppm is this input file itself; choose another output\n"},
      {"-d out out/x.ppm", "out/x.ppm",
       "jpeg2pnm: out/x.ppm: the output out/x.ppm is this input file itself; choose another output\n"},
      {"in.jpg >> in.jpg", "in.jpg",
       "jpeg2pnm: in.jpg: the output (standard output) is this input file itself; choose another "
       "output\n"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(run(c.arguments), 1) << c.arguments;
    EXPECT_EQ(err_, c.message) << c.arguments;
    EXPECT_EQ(slurp(dir_ / c.input), jpeg_) << c.arguments;
  }
  EXPECT_EQ(listing(dir_ / "out"), std::vector<std::string>{"x.ppm"});
}

TEST_F(output_files, missing_folder_for_d_is_created) {
  write_file(dir_ / "a.jpg", jpeg_);
  write_file(dir_ / "b.jpg", jpeg_);
  // As README shows it.
  ASSERT_EQ(run("-j 2 -d out/ *.jpg"), 0) << err_;
  EXPECT_EQ(listing(dir_ / "out"), (std::vector<std::string>{"a.ppm", "b.ppm", "in.ppm"}));
  EXPECT_EQ(slurp(dir_ / "out" / "a.ppm"), ppm_);

  EXPECT_EQ(run("-d no/such/out a.jpg"), 1);
  EXPECT_EQ(err_, "jpeg2pnm: no/such/out: cannot create the folder: No such file or directory\n");
  EXPECT_EQ(run("-d a.jpg b.jpg"), 1);
  EXPECT_EQ(err_, "jpeg2pnm: a.jpg: not a directory; name a folder for -d\n");
  // Folders among the inputs are named as what they are.
  fs::create_directories(dir_ / "d1");
  fs::create_directories(dir_ / "d2");
  EXPECT_EQ(run("-j 1 -d out d1/ d2/ a.jpg"), 1);
  EXPECT_EQ(err_, "jpeg2pnm: d1/: is a directory, not a JPEG file\njpeg2pnm: d2/: is a directory, not a JPEG file\n");
}

// -j never asks for more descriptors than the limit allows: it is raised
// to the hard limit, and the jobs are held to it, with one line saying so.
TEST_F(output_files, jobs_are_held_to_the_descriptor_limit) {
  fs::create_directory(dir_ / "in");
  for (int i = 0; i < 200; ++i) write_file(dir_ / "in" / (std::to_string(i) + ".jpg"), jpeg_);
  for (const char *existing : {"new", "replaced"}) {
    EXPECT_EQ(shell("cd '" + dir_.string() + "' && ulimit -n 30 && " + JPEG2PNM_PATH +
                    " -j 1024 -d out in/*.jpg 2>err"),
              0)
        << existing;
    EXPECT_EQ(slurp(dir_ / "err"),
              "jpeg2pnm: -j 1024: running 5 jobs, as many as the limit of 30 open files (ulimit -n) allows\n");
    EXPECT_EQ(listing(dir_ / "out").size(), 200u);
    EXPECT_EQ(slurp(dir_ / "out" / "199.ppm"), ppm_);
  }
}

// A standard descriptor closed at start never receives a file the program
// opens: warnings of a batch never land inside an image, an image meant
// for a closed standard output is an error said once.
TEST_F(output_files, closed_standard_descriptors_receive_no_file) {
  fs::create_directory(dir_ / "in");
  const std::string truncated = jpeg_.substr(0, jpeg_.size() - 30);
  for (int i = 0; i < 60; ++i) {
    write_file(dir_ / "in" / ("p" + std::to_string(i) + ".jpg"), i % 2 ? truncated : jpeg_);
  }
  const std::string program = std::string("cd '") + dir_.string() + "' && " + JPEG2PNM_PATH;
  ASSERT_EQ(shell(program + " -j 4 --allow-truncated -d out in/*.jpg 2>&-"), 3);
  ASSERT_EQ(listing(dir_ / "out").size(), 60u);
  for (int i = 0; i < 60; ++i) {
    const std::string image = slurp(dir_ / "out" / ("p" + std::to_string(i) + ".ppm"));
    EXPECT_EQ(image.size(), ppm_.size()) << i;
    EXPECT_EQ(image.find("jpeg2pnm"), std::string::npos) << i;
    if (i % 2 == 0) {
      EXPECT_EQ(image, ppm_) << i;
    }
  }
  const struct {
    const char *arguments;  // the standard error goes to err unless closed here
    int status;
    const char *message;
    const char *written;  // the file that must hold the image, if any
  } cases[] = {
      {"in.jpg -o one.ppm 2>&-", 0, "", "one.ppm"},
      {"--allow-truncated in/p1.jpg -o half.ppm 2>&-", 3, "", nullptr},
      {"in.jpg -o one.ppm <&-", 0, "", "one.ppm"},
      {"-d out2 in.jpg >&- <&-", 0, "", "out2/in.ppm"},
      {"in.jpg >&-", 1, "jpeg2pnm: in.jpg: (standard output): write error: Bad file descriptor\n", nullptr},
      {"-o x.ppm <&-", 1, "jpeg2pnm: (standard input): read error: Bad file descriptor\n", nullptr},
  };
  for (const auto &c : cases) {
    fs::remove(dir_ / "one.ppm");
    EXPECT_EQ(shell(program + " 2>err " + c.arguments), c.status) << c.arguments;
    EXPECT_EQ(slurp(dir_ / "err"), c.message) << c.arguments;
    if (c.written != nullptr) {
      EXPECT_EQ(slurp(dir_ / c.written), ppm_) << c.arguments;
    }
  }
  EXPECT_FALSE(fs::exists(dir_ / "x.ppm"));
}

// Spawns jpeg2pnm with `arguments`, its standard error to `err`.
pid_t spawn_jpeg2pnm(const std::vector<std::string> &arguments, const fs::path &err) {
  std::vector<std::string> words{JPEG2PNM_PATH};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (auto &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// True once process `pid` holds a file open below `folder` (an unnamed
// temporary file shows there as "folder/#123 (deleted)").
bool writes_below(pid_t pid, const fs::path &folder) {
  const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(fds, ec)) {
    const std::string target = fs::read_symlink(e.path(), ec).string();
    if (target.rfind(folder.string() + "/", 0) == 0) return true;
  }
  return false;
}

// A signal while a large image is being decoded: the output is open, part
// of the image written.
TEST_F(output_files, signals_in_the_middle_of_a_decode_leave_nothing_behind) {
  image_recipe big;
  big.width = 4000;
  big.height = 3000;
  big.progressive = true;
  write_file(dir_ / "big.jpg", bytes_of(encode_jpeg(big)));
  fs::create_directory(dir_ / "out");
  test_fs_mount named(dir_ / "named", "");

  struct trial {
    int signal_number;
    fs::path folder;
  };
  std::vector<trial> trials;
  for (const int s : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) trials.push_back({s, dir_ / "out"});
  // A file system without unnamed temporary files: named ones are removed.
  if (named.skip_reason.empty()) {
    for (const int s : {SIGTERM, SIGINT}) trials.push_back({s, dir_ / "named"});
  } else {
    std::printf("named temporary files not tried: %s\n", named.skip_reason.c_str());
  }
  for (const trial &t : trials) {
    const pid_t pid = spawn_jpeg2pnm({(dir_ / "big.jpg").string(), "-o", (t.folder / "big.ppm").string()},
                                     dir_ / "err");
    bool writing = false;
    for (int i = 0; i < 20000 && !writing; ++i) {
      writing = writes_below(pid, t.folder);
      if (!writing) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_TRUE(writing) << "signal " << t.signal_number;
    if (t.folder == dir_ / "named") {
      EXPECT_EQ(listing(t.folder).size(), 1u);
    }
    kill(pid, t.signal_number);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == t.signal_number)
        << "signal " << t.signal_number << ", status " << status << ": " << slurp(dir_ / "err");
    EXPECT_EQ(listing(t.folder), std::vector<std::string>{}) << "signal " << t.signal_number;
  }
  // A reader that goes away ends the process as SIGPIPE does, and the
  // profile's named temporary file goes with it.
  if (named.skip_reason.empty()) {
    image_recipe with_profile = big;
    with_profile.icc_profile.assign(3000, 7);
    write_file(dir_ / "icc.jpg", bytes_of(encode_jpeg(with_profile)));
    EXPECT_EQ(shell("cd '" + dir_.string() + "' && { " + JPEG2PNM_PATH +
                    " icc.jpg --icc named/p.icc 2>err; echo $? > status; } | head -c 100 > /dev/null"),
              0);
    EXPECT_EQ(slurp(dir_ / "status"), std::to_string(128 + SIGPIPE) + "\n") << slurp(dir_ / "err");
    EXPECT_EQ(listing(dir_ / "named"), std::vector<std::string>{});
  }
}

TEST_F(output_files, file_system_failures_name_the_output_and_leave_nothing) {
  const struct {
    const char *arguments, *message;
  } refusals[] = {
      {"-o no/such/folder/out.ppm in.jpg",
       "jpeg2pnm: in.jpg: no/such/folder/out.ppm: cannot create: No such file or directory\n"},
      {"-o . in.jpg", "jpeg2pnm: in.jpg: .: is a directory\n"},
      {"-o \"$(printf 'no/such\\nx.ppm')\" in.jpg",
       "jpeg2pnm: in.jpg: 'no/such\\nx.ppm': cannot create: No such file or directory\n"},
      {"\"$(printf 'bad\\033name.jpg')\"", "jpeg2pnm: 'bad\\x1bname.jpg': cannot open: No such file or directory\n"},
      {"-o out.ppm .", "jpeg2pnm: .: is a directory, not a JPEG file\n"},
      {"< . > out.ppm", "jpeg2pnm: (standard input): is a directory, not a JPEG file\n"},
  };
  for (const auto &c : refusals) {
    EXPECT_EQ(run(c.arguments), 1) << c.arguments;
    EXPECT_EQ(err_, c.message);
  }
  fs::remove(dir_ / "out.ppm");  // made by the shell's redirection

  {
    // The image is larger than the file system.
    const scoped_tmpfs full(dir_ / "full", "size=64k");
    if (!full.skip_reason.empty()) std::printf("full file system not tried: %s\n", full.skip_reason.c_str());
    if (full.skip_reason.empty()) {
    image_recipe big;
    big.width = 300;
    big.height = 200;
    write_file(dir_ / "big.jpg", bytes_of(encode_jpeg(big)));
    EXPECT_EQ(run("-o full/out.ppm big.jpg"), 1);
    EXPECT_EQ(err_, "jpeg2pnm: big.jpg: full/out.ppm: write error: No space left on device\n");
    EXPECT_EQ(listing(dir_ / "full"), std::vector<std::string>{});
    // Replacing a file there keeps it when the new image does not fit.
    write_file(dir_ / "full" / "old.ppm", "old");
    EXPECT_EQ(run("-o full/old.ppm big.jpg"), 1);
    EXPECT_EQ(slurp(dir_ / "full" / "old.ppm"), "old");
    EXPECT_EQ(listing(dir_ / "full"), std::vector<std::string>{"old.ppm"});
    }
  }
  {
    const scoped_tmpfs read_only(dir_ / "ro", "ro");
    ASSERT_EQ(read_only.skip_reason, "");
    EXPECT_EQ(run("-o ro/out.ppm in.jpg"), 1);
    EXPECT_EQ(err_, "jpeg2pnm: in.jpg: ro/out.ppm: cannot create: Read-only file system\n");
  }
  {
    // The write is lost only as the file is closed.
    const test_fs_mount lossy(dir_ / "lossy", "--fail-flush");
    if (!lossy.skip_reason.empty()) std::printf("lossy file system not tried: %s\n", lossy.skip_reason.c_str());
    if (lossy.skip_reason.empty()) {
    EXPECT_EQ(run("-o lossy/out.ppm in.jpg"), 1);
    EXPECT_EQ(err_, "jpeg2pnm: in.jpg: lossy/out.ppm: write error: Input/output error\n");
    EXPECT_EQ(listing(dir_ / "lossy"), std::vector<std::string>{});
    }
  }
  {
    // Past the file-size limit (ulimit -f, 40 KiB): that output fails as a
    // write error, nothing of it stays (named temporary files included),
    // and the batch goes on with the next file.
    const test_fs_mount named(dir_ / "named", "");
    const fs::path folder = named.skip_reason.empty() ? dir_ / "named" : dir_ / "limited";
    if (!named.skip_reason.empty()) std::printf("named temporary files not tried: %s\n", named.skip_reason.c_str());
    fs::create_directories(folder);
    image_recipe big;
    big.width = 300;
    big.height = 200;
    write_file(dir_ / "big.jpg", bytes_of(encode_jpeg(big)));
    std::ofstream(dir_ / "tones", std::ios::binary) << tone_records;
    const std::string limited = "cd '" + dir_.string() + "' && ulimit -f 40 && ";
    EXPECT_EQ(shell(limited + JPEG2PNM_PATH + " -j 1 -d " + folder.string() + "/b big.jpg in.jpg 2>err"), 1);
    EXPECT_EQ(slurp(dir_ / "err"), "jpeg2pnm: big.jpg: " + folder.string() + "/b/big.ppm: write error: File too large\n");
    EXPECT_EQ(listing(folder / "b"), std::vector<std::string>{"in.ppm"});
    EXPECT_EQ(shell(limited + TONETOOL_PATH + " wav --unit-ms 1000 -o " + folder.string() + "/t.wav tones 2>err"), 1);
    EXPECT_EQ(slurp(dir_ / "err"), "tonetool: " + folder.string() + "/t.wav: write error: File too large\n");
    EXPECT_EQ(listing(folder / "b"), std::vector<std::string>{"in.ppm"});
    EXPECT_FALSE(fs::exists(folder / "t.wav"));
  }
  {
    const test_fs_mount faulty(dir_ / "faulty", "");
    if (!faulty.skip_reason.empty()) std::printf("failing reads not tried: %s\n", faulty.skip_reason.c_str());
    if (faulty.skip_reason.empty()) {
    write_file(dir_ / "faulty" / "in.eio", jpeg_);
    EXPECT_EQ(run("-o out.ppm faulty/in.eio"), 1);
    EXPECT_EQ(err_, "jpeg2pnm: faulty/in.eio: read error: Input/output error\n");
    EXPECT_FALSE(fs::exists(dir_ / "out.ppm"));
    }
  }
}

// tonetool's wav -o writes output files by the same rules.
TEST_F(output_files, tonetool_wav_files_follow_the_same_rules) {
  const std::string records = tone_records;
  std::ofstream(dir_ / "tones", std::ios::binary) << records;
  const std::string d = "'" + dir_.string() + "'";
  const std::string tonetool = TONETOOL_PATH;
  // A new file under umask 077.
  ASSERT_EQ(shell("cd " + d + " && umask 077 && " + tonetool + " wav --unit-ms 10 -o new.wav tones"), 0);
  struct stat st {};
  ASSERT_EQ(stat((dir_ / "new.wav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  const std::string sound = slurp(dir_ / "new.wav");
  // An existing file keeps its mode.
  std::ofstream(dir_ / "old.wav") << "old";
  chmod((dir_ / "old.wav").c_str(), 0604);
  ASSERT_EQ(shell("cd " + d + " && " + tonetool + " wav --unit-ms 10 -o old.wav tones"), 0);
  ASSERT_EQ(stat((dir_ / "old.wav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(slurp(dir_ / "old.wav"), sound);
  // A FIFO with a player on it gets the whole file, and stays a FIFO.
  ASSERT_EQ(mkfifo((dir_ / "player").c_str(), 0600), 0);
  // The extension picks the format: the FIFO is reached through a link.
  ASSERT_EQ(shell("cd " + d + " && ln -s player fifo.wav && { " + tonetool +
                  " wav --unit-ms 10 -o fifo.wav tones & cat player > heard.wav; wait $!; }"),
            0);
  EXPECT_EQ(slurp(dir_ / "heard.wav"), sound);
  ASSERT_EQ(lstat((dir_ / "player").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  // The input itself is refused and left alone.
  std::ofstream(dir_ / "in.wav", std::ios::binary) << records;
  EXPECT_EQ(shell("cd " + d + " && " + tonetool + " wav -o in.wav in.wav 2>err"), 1);
  EXPECT_EQ(slurp(dir_ / "err"),
            "tonetool: in.wav: the output is this input file itself; choose another output\n");
  EXPECT_EQ(slurp(dir_ / "in.wav"), records);
}

// A standard descriptor closed at start never receives a file tonetool
// opens; sound meant for a closed standard output is an error said once.
TEST_F(output_files, closed_standard_descriptors_receive_no_tonetool_file) {
  write_file(dir_ / "t.tones", tone_records);
  ASSERT_EQ(shell("cd '" + dir_.string() + "' && " + TONETOOL_PATH + " wav -o ref.wav t.tones"), 0);
  const struct {
    const char *arguments;  // the standard error goes to err unless closed here
    int status;
    const char *message;
  } cases[] = {
      {"wav -o x.wav t.tones 2>&-", 0, ""},
      {"wav -o x.wav t.tones <&-", 0, ""},
      {"wav -o x.wav <&-", 1, "tonetool: (standard input): read error: Bad file descriptor\n"},
      {"wav t.tones >&-", 1, "tonetool: (standard output): write error: Bad file descriptor\n"},
      {"list t.tones >&-", 1, "tonetool: (standard output): write error: Bad file descriptor\n"},
  };
  for (const auto &c : cases) {
    std::filesystem::remove(dir_ / "x.wav");
    EXPECT_EQ(shell("cd '" + dir_.string() + "' && " + TONETOOL_PATH + " 2>err " + c.arguments), c.status)
        << c.arguments;
    EXPECT_EQ(slurp(dir_ / "err"), c.message) << c.arguments;
    EXPECT_EQ(std::filesystem::exists(dir_ / "x.wav"), c.status == 0) << c.arguments;
    if (c.status == 0) {
      EXPECT_TRUE(slurp(dir_ / "x.wav") == slurp(dir_ / "ref.wav")) << c.arguments;
    }
  }
}

}  // namespace
