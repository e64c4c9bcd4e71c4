// Writes a synthetic test-pattern JPEG: make_test_jpeg OUT [WIDTH HEIGHT
// [COMPONENTS [progressive]]]. Used by the demo and the benchmark.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "jpeg_fixtures.h"

int main(int argc, char **argv) {
  if (argc < 2 || argc == 3 || argc > 6) {
    std::fprintf(stderr, "usage: make_test_jpeg OUT [WIDTH HEIGHT [COMPONENTS [progressive]]]\n");
    return 2;
  }
  image_spec spec;
  spec.width = 640;
  spec.height = 480;
  if (argc >= 4) {
    spec.width = std::atoi(argv[2]);
    spec.height = std::atoi(argv[3]);
  }
  if (argc >= 5) spec.components = std::atoi(argv[4]);
  spec.progressive = argc >= 6 && std::strcmp(argv[5], "progressive") == 0;
  spec.h_sampling = spec.v_sampling = 2;
  if (spec.width < 1 || spec.height < 1 || spec.width > 65500 || spec.height > 65500 ||
      (spec.components != 1 && spec.components != 3 && spec.components != 4)) {
    std::fprintf(stderr, "make_test_jpeg: bad size or component count\n");
    return 2;
  }
  try {
    const auto file = encode_jpeg(spec);
    std::FILE *out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
        std::fclose(out) != 0) {
      std::perror(argv[1]);
      return 1;
    }
  } catch (const jpeg_failure &f) {
    std::fprintf(stderr, "make_test_jpeg: %s\n", f.message);
    return 1;
  }
  return 0;
}
