// jpeg2pnm against the floor: a bare libjpeg decode of the same file
// that writes nothing, as a program of its own (`pipeline_bench --bare
// FILE`: read the file, decode every row into one row buffer), so that
// both pay a process's start and first touches of memory. RUNS rounds,
// each taking the bare decode and then every jpeg2pnm command in turn,
// each a child process timed whole; prints the median of each and its
// ratio to the bare decode. The regular file a command names after -o is
// removed before it runs, so that each run writes a new file.
//
//   pipeline_bench JPEG2PNM FILE RUNS "ARGS"...   (ARGS: jpeg2pnm's arguments;
//                                                 "/path/to/program ARGS" runs another build)
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <jpeglib.h>

extern char **environ;

namespace {

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point t0) {
  return std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
}

// Decodes every row into one row buffer: the one-thread floor.
void decode_bare(const std::vector<unsigned char> &file) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(cinfo.output_width) * static_cast<std::size_t>(cinfo.output_components));
  JSAMPROW rows[1] = {row.data()};
  while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, rows, 1);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
}

// Runs the program with the words of `arguments` (or the program that
// is their first word, when it is a path); false when it fails.
bool run(const std::string &program, const std::string &arguments) {
  std::vector<std::string> words{program};
  std::istringstream split(arguments);
  for (std::string w; split >> w;) words.push_back(w);
  if (words.size() > 1 && words[1].find('/') != std::string::npos && words[1][0] == '/' &&
      words[1].find(".jpg") == std::string::npos) {
    words.erase(words.begin());
  }
  std::vector<char *> argv;
  for (auto &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Removes `path` when it is a regular file, and nothing else (never a
// device such as /dev/null).
void remove_regular_file(const std::string &path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path.c_str());
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && std::string(argv[1]) == "--bare") {
    std::ifstream in(argv[2], std::ios::binary | std::ios::ate);
    std::vector<unsigned char> file(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char *>(file.data()), static_cast<std::streamsize>(file.size()));
    decode_bare(file);
    return 0;
  }
  if (argc < 5) {
    std::fprintf(stderr, "usage: pipeline_bench JPEG2PNM FILE RUNS ARGS...\n");
    return 2;
  }
  const int runs = std::atoi(argv[3]);
  const std::vector<std::string> commands(argv + 4, argv + argc);
  const std::string self = argv[0];
  std::vector<double> bare;
  std::vector<std::vector<double>> timed(commands.size());
  for (int round = 0; round < runs; ++round) {
    auto t0 = clock_type::now();
    if (!run(self, std::string("--bare ") + argv[2])) return 1;
    bare.push_back(ms_since(t0));
    for (std::size_t c = 0; c < commands.size(); ++c) {
      const std::size_t o = commands[c].find("-o ");
      if (o != std::string::npos) remove_regular_file(commands[c].substr(o + 3, commands[c].find(' ', o + 3) - o - 3));
      t0 = clock_type::now();
      if (!run(argv[1], commands[c])) {
        std::fprintf(stderr, "pipeline_bench: jpeg2pnm %s failed\n", commands[c].c_str());
        return 1;
      }
      timed[c].push_back(ms_since(t0));
    }
  }
  const double floor = median(bare);
  std::printf("  %-56s %8.1f ms\n", "bare libjpeg decode (a process), no output", floor);
  for (std::size_t c = 0; c < commands.size(); ++c) {
    const double m = median(timed[c]);
    // Long commands (a batch's file list) are shown by their start.
    std::string shown = commands[c].size() > 56 ? commands[c].substr(0, 53) + "..." : commands[c];
    std::printf("  %-56s %8.1f ms  %5.2fx\n", shown.c_str(), m, m / floor);
  }
  return 0;
}
