// Reading back the PGM, PPM and PAM files jpeg2pnm writes.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

// A parsed P5, P6 or P7 file.
struct pnm_image {
  std::string magic;
  unsigned width = 0, height = 0, depth = 0;
  std::string tuple_type;
  std::vector<unsigned char> pixels;
};

inline pnm_image parse_pnm(const std::vector<unsigned char> &file) {
  pnm_image img;
  std::string text(file.begin(), file.end());
  std::istringstream in(text);
  in >> img.magic;
  if (img.magic == "P7") {
    std::string key;
    while (in >> key && key != "ENDHDR") {
      if (key == "WIDTH") in >> img.width;
      else if (key == "HEIGHT") in >> img.height;
      else if (key == "DEPTH") in >> img.depth;
      else if (key == "TUPLTYPE") in >> img.tuple_type;
      else if (key == "MAXVAL") in >> key;
    }
  } else {
    unsigned maxval = 0;
    in >> img.width >> img.height >> maxval;
    img.depth = img.magic == "P5" ? 1 : 3;
    EXPECT_EQ(maxval, 255u);
  }
  in.get();  // the single white-space byte before the pixels
  img.pixels.assign(file.begin() + in.tellg(), file.end());
  return img;
}

