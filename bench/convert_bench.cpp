// Decodes one JPEG file held in memory with jpeg2pnm's converter, whole
// and cropped, to /dev/null: RUNS rounds, each taking every region in turn;
// prints the median time of each and its ratio to the whole decode. No
// process start or file reading is counted.
//
//   convert_bench FILE RUNS REGION...    (REGION: full or WxH+X+Y)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decode/decode_image.h"
#include "options.h"

namespace {

bool set_region(const std::string &region, convert_options &options) {
  if (region == "full") return true;
  return std::sscanf(region.c_str(), "%ux%u+%u+%u", &options.crop_width, &options.crop_height,
                     &options.crop_x, &options.crop_y) == 4;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: convert_bench FILE RUNS REGION...\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<unsigned char> file{std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};
  const int runs = std::atoi(argv[2]);
  const std::vector<std::string> regions(argv + 3, argv + argc);
  std::FILE *sink = std::fopen("/dev/null", "wb");
  std::vector<std::vector<double>> ms(regions.size());
  for (int round = 0; round < runs; ++round) {
    for (std::size_t r = 0; r < regions.size(); ++r) {
      convert_options options;
      if (!set_region(regions[r], options)) {
        std::fprintf(stderr, "convert_bench: bad region %s\n", regions[r].c_str());
        return 2;
      }
      const auto t0 = std::chrono::steady_clock::now();
      block_ring ring;
      const image_plan plan = plan_image({file.data(), file.size()}, options);
      const decode_result result =
          plan.ok ? decode_image({file.data(), file.size()}, plan, sink, ring) : decode_result{false, false, 0, plan.refusal};
      const auto t1 = std::chrono::steady_clock::now();
      if (!result.ok) {
        std::fprintf(stderr, "convert_bench: %s\n", result.message.c_str());
        return 1;
      }
      ms[r].push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
  }
  double full = 0;
  for (std::size_t r = 0; r < regions.size(); ++r) {
    std::sort(ms[r].begin(), ms[r].end());
    const double median = ms[r][ms[r].size() / 2];
    if (r == 0) full = median;
    std::printf("  %-18s %10.1f %8.3f\n", regions[r].c_str(), median, median / full);
  }
  return 0;
}
