// jpeg2pnm against the floor: the plain C decode of bare_decode (libjpeg's
// stdio source, one row buffer, nothing written), a process of its own,
// so that both pay a process's start and first touches of memory.
// `--bare-strips FILE` decodes the two halves of a file with restart
// markers on two threads the same way: the floor for strips, with nothing
// written. `--in-process FILE RUNS` times both decodes inside one process,
// the halves both in turn with the whole decode and back to back. RUNS
// rounds, each taking the bare decode and then every jpeg2pnm command in
// turn, each a child process timed whole; prints the median of each, its
// ratio to the bare decode and its minor page faults (the kernel's count
// of memory touched for the first time). The regular file a command names
// after -o is removed before it runs, so that each run writes a new file.
//
//   pipeline_bench JPEG2PNM BARE_DECODE FILE RUNS "ARGS"...
//     (ARGS: jpeg2pnm's arguments; "/path/to/program ARGS" runs another build)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>

#include "input/restart_trim.h"

extern char **environ;

namespace {

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point t0) {
  return std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
}

// A decompressor with the file's header read.
struct reader {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  explicit reader(const std::vector<unsigned char> &file) {
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
  }
  ~reader() { jpeg_destroy_decompress(&cinfo); }
  reader(const reader &) = delete;
  reader &operator=(const reader &) = delete;
};

// Decodes rows [first, last) into one row buffer, from a file rebuilt to
// start near `first` where restart markers allow: every row is the
// one-thread floor; half of them, the floor for one strip.
void decode_bare(const std::vector<unsigned char> &whole, unsigned first = 0, unsigned last = UINT_MAX) {
  reader r(whole);
  j_decompress_ptr cinfo = &r.cinfo;
  const frame_as_read frame{cinfo->image_width, cinfo->image_height, static_cast<unsigned>(cinfo->num_components),
                            static_cast<unsigned>(cinfo->max_h_samp_factor),
                            static_cast<unsigned>(cinfo->max_v_samp_factor), cinfo->restart_interval};
  trimmed_jpeg trimmed;
  trimmed_source source;
  if (first > 0 && trim_rows_above(whole.data(), whole.size(), first, frame, trimmed)) {
    jpeg_abort_decompress(cinfo);
    read_trimmed_jpeg(cinfo, source, trimmed);
    jpeg_read_header(cinfo, TRUE);
    first -= trimmed.skipped_rows;
    last -= trimmed.skipped_rows;
  }
  jpeg_start_decompress(cinfo);
  if (first > 0) jpeg_skip_scanlines(cinfo, first);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(cinfo->output_width) *
                           static_cast<std::size_t>(cinfo->output_components));
  JSAMPROW rows[1] = {row.data()};
  while (cinfo->output_scanline < std::min<JDIMENSION>(last, cinfo->output_height)) {
    jpeg_read_scanlines(cinfo, rows, 1);
  }
  jpeg_abort_decompress(cinfo);
}

// The strips' floor: each half of the image decoded as above on a thread
// of its own, nothing written.
void decode_strips_bare(const std::vector<unsigned char> &file) {
  unsigned height = 0, mcu_rows = 0;
  {
    const reader r(file);
    height = r.cinfo.image_height;
    mcu_rows = 8u * static_cast<unsigned>(r.cinfo.max_v_samp_factor);
  }
  const unsigned half = height / 2 / mcu_rows * mcu_rows;
  std::thread other([&] { decode_bare(file, half, height); });
  decode_bare(file, 0, half);
  other.join();
}

// A child's time and minor page faults; `ok` when it exited with 0.
struct run_cost {
  bool ok = false;
  double ms = 0;
  long faults = 0;
};

// Runs the program with the words of `arguments` (or the program that
// is their first word, when it is a path).
run_cost run(const std::string &program, const std::string &arguments) {
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
  run_cost cost;
  const auto t0 = clock_type::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return cost;
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return cost;
  cost.ms = ms_since(t0);
  cost.faults = usage.ru_minflt;
  cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return cost;
}

// Removes `path` when it is a regular file, and nothing else (never a
// device such as /dev/null).
void remove_regular_file(const std::string &path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path.c_str());
}

std::vector<unsigned char> read_whole(const char *path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<unsigned char> file(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char *>(file.data()), static_cast<std::streamsize>(file.size()));
  return file;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && std::string(argv[1]) == "--bare-strips") {
    decode_strips_bare(read_whole(argv[2]));
    return 0;
  }
  if (argc == 4 && std::string(argv[1]) == "--in-process") {
    // The whole decode and the two halves on two threads inside this one
    // process: taken in turn, the second core idles through each whole
    // decode; back to back, it stays busy.
    const std::vector<unsigned char> file = read_whole(argv[2]);
    const int runs = std::atoi(argv[3]);
    std::vector<double> whole, in_turn, back_to_back;
    for (int round = 0; round < runs; ++round) {
      auto t0 = clock_type::now();
      decode_bare(file);
      whole.push_back(ms_since(t0));
      t0 = clock_type::now();
      decode_strips_bare(file);
      in_turn.push_back(ms_since(t0));
    }
    for (int round = 0; round < runs; ++round) {
      const auto t0 = clock_type::now();
      decode_strips_bare(file);
      back_to_back.push_back(ms_since(t0));
    }
    const double floor = median(whole);
    std::printf("  %-56s %8.1f ms\n", "in one process: the whole decode", floor);
    std::printf("  %-56s %8.1f ms  %5.2fx\n", "its halves on two threads, taken in turn with it", median(in_turn),
                median(in_turn) / floor);
    std::printf("  %-56s %8.1f ms  %5.2fx\n", "its halves on two threads, back to back", median(back_to_back),
                median(back_to_back) / floor);
    return 0;
  }
  if (argc < 6) {
    std::fprintf(stderr, "usage: pipeline_bench JPEG2PNM BARE_DECODE FILE RUNS ARGS...\n");
    return 2;
  }
  const int runs = std::atoi(argv[4]);
  const std::vector<std::string> commands(argv + 5, argv + argc);
  std::vector<double> bare, bare_faults;
  std::vector<std::vector<double>> timed(commands.size()), faults(commands.size());
  for (int round = 0; round < runs; ++round) {
    const run_cost floor_run = run(argv[2], argv[3]);
    if (!floor_run.ok) return 1;
    bare.push_back(floor_run.ms);
    bare_faults.push_back(static_cast<double>(floor_run.faults));
    for (std::size_t c = 0; c < commands.size(); ++c) {
      const std::size_t o = commands[c].find("-o ");
      if (o != std::string::npos) remove_regular_file(commands[c].substr(o + 3, commands[c].find(' ', o + 3) - o - 3));
      const run_cost cost = run(argv[1], commands[c]);
      if (!cost.ok) {
        std::fprintf(stderr, "pipeline_bench: %s failed\n", commands[c].c_str());
        return 1;
      }
      timed[c].push_back(cost.ms);
      faults[c].push_back(static_cast<double>(cost.faults));
    }
  }
  const double floor = median(bare);
  std::printf("  %-56s %8.1f ms         %6.0f faults\n", "plain C bare decode (bare_decode), no output", floor,
              median(bare_faults));
  for (std::size_t c = 0; c < commands.size(); ++c) {
    const double m = median(timed[c]);
    // Long commands (a batch's file list) are shown by their start.
    std::string shown = commands[c].size() > 56 ? commands[c].substr(0, 53) + "..." : commands[c];
    std::printf("  %-56s %8.1f ms  %5.2fx %6.0f faults\n", shown.c_str(), m, m / floor, median(faults[c]));
  }
  return 0;
}
