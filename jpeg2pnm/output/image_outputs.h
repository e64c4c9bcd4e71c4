// Where one image of jpeg2pnm goes: its output file or standard output,
// and its ICC profile when --icc asks for it; opened once the header says
// which kind of image it is, so that every output that cannot be written
// is found before decoding, and put in place together, all or none.
#pragma once

#include <cstdio>
#include <string>

#include <vector>

#include "options.h"
#include "program_output.h"

// Where one image goes: a file (`target`, with the extension of the
// image's kind when `add_extension`) or standard output ("-"); and its
// ICC profile, when --icc asks for it, to a file or standard output.
struct image_outputs {
  std::string target;
  bool add_extension = false;
  program_output image;
  program_output profile;  // a file, when profile_opened
  bool profile_to_stdout = false;
  bool profile_opened = false;
};

// Abandons both outputs (see discard_program_output).
void discard_image_outputs(image_outputs &o);

// "the output OUT is this input file itself; choose another output"
std::string same_file_message(const std::string &output);

// Opens the image's output (and the profile's): the stream to write the
// image to, or nullptr with `error` set.
std::FILE *open_outputs(image_outputs &o, const convert_options &options, int input_fd, int components,
                        bool has_icc_profile, std::string &error);

// Writes the ICC profile `profile` to its output and puts every output of
// the image in place, all of them or, as far as can be, none. False when
// reported.
bool commit_image(const std::string &input, image_outputs &o, const std::vector<unsigned char> &profile,
                  const convert_options &options);
