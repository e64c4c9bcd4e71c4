// Feeds arbitrary bytes to jpeg2pnm's EXIF orientation reader, as an APP1
// payload and as a whole file: it never reads past what it is given, and
// gives an orientation of 1 to 8, with a reason whenever it ignores a
// block.
#include <cstdint>
#include <cstring>
#include <vector>

#include "input/exif_orientation.h"

namespace {

void check(const exif_reading &r) {
  if (r.orientation < 1 || r.orientation > 8 || (!r.damage.empty() && r.orientation != 1)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // As a segment's payload, behind the Exif signature, in a buffer of its
  // own size so that any read past it is caught.
  std::vector<unsigned char> payload(6 + size);
  std::memcpy(payload.data(), "Exif\0\0", 6);
  if (size > 0) std::memcpy(payload.data() + 6, data, size);
  check(orientation_of_exif(payload.data(), payload.size()));
  // As a whole file.
  const std::vector<unsigned char> file(data, data + size);
  check(read_exif_orientation(file.data(), file.size()));
  return 0;
}
