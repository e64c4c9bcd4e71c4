// The EXIF Orientation tag (1 to 8) that cameras and phones write into an
// APP1 "Exif" segment, and how an upright image maps onto the image as
// stored. 1 is upright; 2 mirrored; 3 turned 180 degrees; 4 flipped; 5
// mirrored across the diagonal; 6 to be turned 90 degrees clockwise; 7
// across the other diagonal; 8 to be turned 90 degrees counter-clockwise.
#pragma once

#include <cstddef>
#include <string>

struct exif_reading {
  int orientation = 1;  // 1 when there is no tag, or it cannot be read
  std::string damage;   // why a damaged EXIF block was ignored, else ""
};

// Reads the orientation of the first APP1 segment that starts "Exif\0\0"
// (TIFF data in either byte order: IFD0, tag 0x0112, a SHORT of 1 to 8),
// found by the marker walk. A block that cannot be read is ignored with
// `damage` saying why; no tag at all is orientation 1.
exif_reading read_exif_orientation(const unsigned char *data, std::size_t size);

// The same, from an APP1 segment's payload (starting "Exif\0\0").
exif_reading orientation_of_exif(const unsigned char *payload, std::size_t length);

// Whether the orientation swaps width and height (5 to 8).
inline bool orientation_swaps(int orientation) { return orientation >= 5 && orientation <= 8; }

// The pixel of a stored image of `width` x `height` that upright pixel
// (u, v) shows.
void stored_pixel(int orientation, unsigned width, unsigned height, unsigned u, unsigned v, unsigned &x,
                  unsigned &y);
