// CMYK rows as jpeg2pnm writes them: ink amounts (0 no ink, 255 full), and
// their conversion from ink to light for RGB and gray output.
#pragma once

#include <cstddef>

// Adobe's CMYK and YCCK files store 255 for no ink: turns `count` such
// samples into ink amounts, in place.
void invert_samples(unsigned char *samples, std::size_t count);

// `pixels` CMYK ink amounts to RGB: each channel is the light its ink
// leaves, dimmed by the black ink, (255 - c)(255 - k) / 255.
void ink_to_rgb(const unsigned char *cmyk, std::size_t pixels, unsigned char *rgb);

// The same to gray, with the luminance weights libjpeg uses
// (0.299 R + 0.587 G + 0.114 B).
void ink_to_gray(const unsigned char *cmyk, std::size_t pixels, unsigned char *gray);
