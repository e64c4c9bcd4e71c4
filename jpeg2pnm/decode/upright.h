// Images turned upright as their EXIF orientation says (--auto-orient):
// the region is decoded whole as stored, then written row by upright row.
// (A crop given in upright coordinates is moved to the image as stored by
// the plan.)
#pragma once

#include "output/block_writer.h"

// Writes the decoded region, `width` x `height` pixels of `components`
// samples held whole in `image` as stored, turned upright. False on a
// write error.
bool write_turned(const unsigned char *image, unsigned width, unsigned height, int components, int orientation,
                  block_writer &out);
