// For tests that run a built program: a scratch folder per test, a shell
// runner that returns the exit status, and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <iterator>
#include <string>
#include <vector>

// A file's bytes, and a file written with them.
inline std::vector<unsigned char> read_file(const std::filesystem::path &p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::filesystem::path &p, const std::vector<unsigned char> &bytes) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void write_file(const std::filesystem::path &p, const std::string &bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

inline std::string slurp(const std::filesystem::path &p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// The names in a folder, sorted; temporary files included.
inline std::vector<std::string> listing(const std::filesystem::path &folder) {
  std::vector<std::string> names;
  for (const auto &e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class program_test : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tamlo_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Runs `command` with sh; the program's exit status, or -1 when a signal
  // ended it.
  static int shell(const std::string &command) {
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  std::filesystem::path dir_;
};
