// One image decoded on several threads, in strips of rows, where restart
// markers let each strip start near its rows (see input/restart_trim.h):
// each strip is a crop of the image, planned and decoded as the whole
// decode has it from a file rebuilt to start one MCU row above its first
// row, so that upsampling at the cut has the same neighbours, and written
// at its offset in the output file.
#pragma once

#include "plan/image_plan.h"
#include "row_decode.h"

// Decodes the plan's region of `in` in as many strips as the plan's
// options allow into the descriptor `fd`, header included, leaving the
// descriptor's position where a sequential write would. True when the
// strips are done with the image: every strip decoded cleanly, or, as
// `result` says, writing failed. False, with nothing to undo, when the
// output is not fit for strips or any strip warned or failed: the whole
// decode then writes over it.
bool decode_in_strips(const jpeg_data &in, const image_plan &plan, int fd, decode_result &result);
