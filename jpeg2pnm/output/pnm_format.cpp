// PNM headers and extensions, one place for the whole decode, the strips
// and the names of a batch's outputs.
#include "pnm_format.h"

#include <cstdio>

std::string pnm_header(int components, unsigned w, unsigned h) {
  char header[128];
  if (components == 1 || components == 3) {
    std::snprintf(header, sizeof header, "P%d\n%u %u\n255\n", components == 1 ? 5 : 6, w, h);
  } else {
    std::snprintf(header, sizeof header, "P7\nWIDTH %u\nHEIGHT %u\nDEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n", w, h);
  }
  return header;
}

const char *pnm_extension(int components) {
  return components == 1 ? ".pgm" : components == 3 ? ".ppm" : ".pam";
}
