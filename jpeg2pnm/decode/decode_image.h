// The last stage of a decode: a planned image (plan/image_plan.h) to the
// output stream its caller opened, in strips on several threads where the
// file and the output allow, else whole on this thread.
#pragma once

#include <cstdio>

#include "plan/image_plan.h"
#include "row_decode.h"

// Decodes `in` as `plan` says to `out`, header included, writing through
// the caller's blocks. On failure the stream may hold part of an image.
decode_result decode_image(const jpeg_data &in, const image_plan &plan, std::FILE *out, block_ring &ring);
