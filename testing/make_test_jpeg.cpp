// Writes a synthetic test-pattern JPEG: make_test_jpeg OUT [WIDTH HEIGHT
// [COMPONENTS [progressive | restarts | icc]]] (restarts: a restart marker
// every MCU row, as many cameras write; icc: an embedded colour profile,
// as print files carry). Used by the demo, the benchmarks and README's
// examples.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "jpeg_fixtures.h"

namespace {

const char usage[] =
    "usage: make_test_jpeg OUT [WIDTH HEIGHT [COMPONENTS [progressive | restarts | icc]]]\n"
    "Writes a photo-like test JPEG (default 640x480, 3 components, 4:2:0) to OUT.\n"
    "COMPONENTS: 1 gray, 3 colour, 4 CMYK. progressive: in several scans;\n"
    "restarts: a restart marker every MCU row; icc: an embedded ICC profile.\n";

// A small profile in ICC's layout: a 128-byte header (size, 'acsp'
// signature, device class, colour space) and an empty tag table.
std::vector<unsigned char> made_up_profile(int components) {
  std::vector<unsigned char> p(132, 0);
  p[3] = 132;
  std::memcpy(&p[12], "prtr", 4);
  std::memcpy(&p[16], components == 4 ? "CMYK" : components == 1 ? "GRAY" : "RGB ", 4);
  std::memcpy(&p[20], "Lab ", 4);
  std::memcpy(&p[36], "acsp", 4);
  return p;
}

// A whole number from 1 to 65500; 0 for anything else.
int dimension(const char *text) {
  char *end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *text >= '0' && *text <= '9' && *end == '\0' && value >= 1 && value <= 65500 ? static_cast<int>(value) : 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(usage, stdout);
    return 0;
  }
  if (argc < 2 || argc == 3 || argc > 6 || argv[1][0] == '-') {
    std::fputs(usage, stderr);
    return 2;
  }
  image_recipe recipe;
  recipe.width = 640;
  recipe.height = 480;
  if (argc >= 4) {
    recipe.width = dimension(argv[2]);
    recipe.height = dimension(argv[3]);
  }
  if (argc >= 5) recipe.components = std::atoi(argv[4]);
  const std::string kind = argc >= 6 ? argv[5] : "";
  recipe.progressive = kind == "progressive";
  recipe.restart_rows = kind == "restarts" ? 1 : 0;
  if (kind == "icc") recipe.icc_profile = made_up_profile(recipe.components);
  recipe.h_sampling = recipe.v_sampling = 2;
  if (recipe.width < 1 || recipe.height < 1 || (recipe.components != 1 && recipe.components != 3 && recipe.components != 4) ||
      (!kind.empty() && kind != "progressive" && kind != "restarts" && kind != "icc")) {
    std::fprintf(stderr, "make_test_jpeg: bad size, component count or kind\n%s", usage);
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
