// Opening an image's outputs once the plan names them, and putting them
// in place together.
#include "image_outputs.h"

#include <unistd.h>

#include <cerrno>

#include "diagnostics.h"
#include "input_file.h"
#include "message_text.h"
#include "pnm_format.h"

std::string same_file_message(const std::string &output) {
  return "the output " + quoted_name(output) + " is this input file itself; choose another output";
}

namespace {

// Opens the profile's file once the image's output is open, refusing one
// that is the input or the image's output under another name.
bool open_profile(image_outputs &o, const std::string &path, int input_fd, std::string &error) {
  const std::string refused = "the ICC profile would go to ";
  if (path == "-") {
    if (o.image.to_stdout || output_is_open_file(o.image.file, STDOUT_FILENO)) {
      error = refused + "the image's own output, standard output; give --icc a file";
      return false;
    }
    o.profile_to_stdout = true;
    return true;
  }
  if (output_is_input(path, input_fd)) {
    error = refused + quoted_name(path) + ", this input file itself; choose another --icc file";
    return false;
  }
  std::string reason;
  if (!open_program_output(o.profile, path, reason)) {
    error = quoted_name(path) + ": " + reason;
    return false;
  }
  if (o.image.to_stdout ? output_is_open_file(o.profile.file, STDOUT_FILENO) : same_output(o.image.file, o.profile.file)) {
    discard_program_output(o.profile);
    error = refused + quoted_name(path) + ", the image's own output; choose another --icc file";
    return false;
  }
  o.profile_opened = true;
  return true;
}

}  // namespace

// Opens the image's output once the header says which kind of image it
// is, and the profile's with it, so that every output that cannot be
// written is found before decoding.
std::FILE *open_outputs(image_outputs &o, const convert_options &options, int input_fd,
                        int components, bool has_icc_profile, std::string &error) {
  const std::string path = o.target == "-" || !o.add_extension ? o.target : o.target + pnm_extension(components);
  if (path != "-" && output_is_input(path, input_fd)) {
    error = same_file_message(path);
    return nullptr;
  }
  std::string reason;
  if (!open_program_output(o.image, path, reason)) {
    error = output_label(o.image) + ": " + reason;
    return nullptr;
  }
  if (has_icc_profile && !options.icc_path.empty() && !open_profile(o, options.icc_path, input_fd, error)) {
    discard_program_output(o.image);
    return nullptr;
  }
  return o.image.stream;
}

// Writes the profile to its output and puts every output of the image in
// place, all of them or, as far as can be, none. False when reported.
bool commit_image(const std::string &input, image_outputs &o, const std::vector<unsigned char> &profile,
                  const convert_options &options) {
  const std::string stdout_name = standard_output_name;
  const auto report_at = [&](const std::string &where, const std::string &error) {
    report(input_name(input), where + ": " + error);
    discard_image_outputs(o);
    return false;
  };
  const auto &bytes = profile;
  if (o.profile_to_stdout &&
      (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0)) {
    return report_at(stdout_name, write_error_text());
  }
  if (o.image.to_stdout && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    return report_at(stdout_name, write_error_text());
  }
  std::string error;
  if (o.profile_opened && std::fwrite(bytes.data(), 1, bytes.size(), o.profile.stream) != bytes.size()) {
    return report_at(quoted_name(options.icc_path), write_error_text());
  }
  if (o.image.to_stdout) {
    if (o.profile_opened && !commit_program_output(o.profile, error)) {
      return report_at(quoted_name(options.icc_path), error);
    }
    return true;
  }
  if (!o.profile_opened) {
    return commit_program_output(o.image, error) || report_at(output_label(o.image), error);
  }
  // Two files that stand or fall together.
  bool profile_failed = false;
  if (!commit_outputs(o.image.file, o.profile.file, error, profile_failed)) {
    return report_at(profile_failed ? quoted_name(options.icc_path) : output_label(o.image), error);
  }
  return true;
}

void discard_image_outputs(image_outputs &o) {
  discard_program_output(o.image);
  discard_program_output(o.profile);
}
