// Choosing between strips and the whole decode for one image.
#include "decode_image.h"

#include "strips.h"

decode_result decode_image(const jpeg_data &in, const image_plan &plan, std::FILE *out, block_ring &ring) {
  // Two cores on one image, where restart markers allow; on any doubt the
  // whole image is decoded below, over what the strips wrote. A stream
  // with no descriptor (in memory) is never fit for strips.
  decode_result in_strips;
  if (plan.strips_fit && plan.orientation == 1 && std::fflush(out) == 0 &&
      decode_in_strips(in, plan, fileno(out), in_strips)) {
    return in_strips;
  }
  return decode_rows(in, plan, {row_destination::whole_image, out, -1, 0, &ring});
}
