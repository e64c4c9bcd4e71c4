// The files jpeg2pnm writes: PGM for gray, PPM for colour, PAM for CMYK
// ink; their headers and file-name extensions.
#pragma once

#include <string>

// The PNM header of a `w` x `h` image of `components` components: P5, P6,
// or P7 with ink amounts.
std::string pnm_header(int components, unsigned w, unsigned h);

// ".pgm", ".ppm" or ".pam" for an image of `components` components.
const char *pnm_extension(int components);
