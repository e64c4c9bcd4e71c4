// Writes a synthetic test-pattern JPEG: make_test_jpeg OUT [WIDTH HEIGHT
// [COMPONENTS [progressive | restarts]]] (restarts: a restart marker
// every MCU row, as many cameras write). Used by the demo and the
// benchmarks.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "jpeg_fixtures.h"

int main(int argc, char **argv) {
  if (argc < 2 || argc == 3 || argc > 6) {
    std::fprintf(stderr,
                 "usage: make_test_jpeg OUT [WIDTH HEIGHT [COMPONENTS [progressive | restarts]]]\n");
    return 2;
  }
  image_recipe recipe;
  recipe.width = 640;
  recipe.height = 480;
  if (argc >= 4) {
    recipe.width = std::atoi(argv[2]);
    recipe.height = std::atoi(argv[3]);
  }
  if (argc >= 5) recipe.components = std::atoi(argv[4]);
  recipe.progressive = argc >= 6 && std::strcmp(argv[5], "progressive") == 0;
  recipe.restart_rows = argc >= 6 && std::strcmp(argv[5], "restarts") == 0 ? 1 : 0;
  recipe.h_sampling = recipe.v_sampling = 2;
  if (recipe.width < 1 || recipe.height < 1 || recipe.width > 65500 || recipe.height > 65500 ||
      (recipe.components != 1 && recipe.components != 3 && recipe.components != 4)) {
    std::fprintf(stderr, "make_test_jpeg: bad size or component count\n");
    return 2;
  }
  try {
    const auto file = encode_jpeg(recipe);
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
