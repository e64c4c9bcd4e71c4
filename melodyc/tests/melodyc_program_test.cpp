// Runs the built melodyc as a user would: exit status, standard error and
// standard output, including the stream failures only a process shows.
#include <filesystem>
#include <fstream>
#include <string>

#include "test_fs_mount.h"
#include "program_test.h"

namespace {

namespace fs = std::filesystem;

struct run_result {
  int status;
  std::string out;
  std::string err;
};

class melodyc_program : public program_test {
 protected:
  // Runs `melodyc <input-redirect >output-redirect 2>err`.
  run_result run(const std::string &stdin_redirect,
                 const std::string &stdout_redirect) {
    const fs::path err = dir_ / "err";
    const std::string command = std::string(MELODYC_PATH) + " " + stdin_redirect +
                                " " + stdout_redirect + " 2>" + err.string();
    const int status = shell(command);
    const fs::path out = dir_ / "out";
    return {status, fs::exists(out) ? slurp(out) : "", slurp(err)};
  }

  std::string write_input(const std::string &text) {
    const fs::path p = dir_ / "in";
    std::ofstream(p, std::ios::binary) << text;
    return "<" + p.string();
  }

  std::string to_file() { return ">" + (dir_ / "out").string(); }
};

TEST_F(melodyc_program, success_writes_records_and_exits_zero) {
  const auto r = run(write_input("2 % tempo\nA1 C#2.5 P\n"), to_file());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("\x0D\x51\x04\x0A\x92\x02\x00\x00\x04", 9));
  EXPECT_EQ(r.err, "");
}

TEST_F(melodyc_program, failure_keeps_earlier_records) {
  const auto r = run(write_input("2\nA1 P\nA1 H1\n"), to_file());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string("\x0D\x51\x04\x00\x00\x04\x0D\x51\x04", 9));
  EXPECT_EQ(r.err, "Line 3: Invalid note \n");
}

TEST_F(melodyc_program, stream_failures_exit_one_with_a_message) {
  const struct {
    const char *what;
    std::string in, out, message;
  } cases[] = {
      {"output to a full device", write_input("2 A1 A2"), ">/dev/full",
       "Error writing to output file\n"},
      {"closed standard output", write_input("2 A1 A2"), ">&-",
       "Error writing to output file\n"},
      {"directory as input", "<" + dir_.string(), to_file(), "Error reading input file\n"},
      {"empty input", "</dev/null", to_file(), "Line 1: Invalid tempo\n"},
  };
  for (const auto &c : cases) {
    const auto r = run(c.in, c.out);
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.err, c.message) << c.what;
  }
}

// The write itself succeeds; the file system reports the loss only when
// the file is closed.
TEST_F(melodyc_program, error_reported_only_at_close_exits_one) {
  const test_fs_mount mount(dir_ / "mnt", "--fail-flush");
  if (!mount.skip_reason.empty()) GTEST_SKIP() << mount.skip_reason;
  const auto r = run(write_input("2 A1 A2"), ">" + (dir_ / "mnt" / "out").string());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error writing to output file\n");
}

TEST_F(melodyc_program, shipped_examples_compile_cleanly) {
  int count = 0;
  for (const auto &entry : fs::directory_iterator(EXAMPLES_DIR)) {
    if (entry.path().extension() != ".mel") continue;
    ++count;
    const auto r = run("<" + entry.path().string(), to_file());
    EXPECT_EQ(r.status, 0) << entry.path();
    EXPECT_EQ(r.err, "") << entry.path();
    EXPECT_GT(r.out.size(), 0u) << entry.path();
    EXPECT_EQ(r.out.size() % 3, 0u) << entry.path();
  }
  EXPECT_GE(count, 3);
}

}  // namespace
