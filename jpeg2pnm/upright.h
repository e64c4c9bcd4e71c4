// Images turned upright as their EXIF orientation says (--auto-orient):
// the region is decoded whole as stored, then written row by upright row;
// a crop given in upright coordinates is found in the image as stored.
#pragma once

#include <string>

#include "block_writer.h"
#include "options.h"

// Writes the decoded region, `width` x `height` pixels of `components`
// samples held whole in `image` as stored, turned upright. False on a
// write error.
bool write_turned(const unsigned char *image, unsigned width, unsigned height, int components, int orientation,
                  block_writer &out);

// Moves the options' crop, given in the upright image's coordinates, to
// the region of the stored `width` x `height` image (at the output scale)
// that shows it; "" or why it lies outside.
std::string crop_to_stored(unsigned width, unsigned height, int orientation, convert_options &o);
