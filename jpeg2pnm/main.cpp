// jpeg2pnm: decodes JPEG images to PGM, PPM or PAM through the tamlo_jpeg
// row sink.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "convert.h"
#include "message_text.h"
#include "options.h"
#include "output_file.h"

namespace {

enum exit_status { status_clean = 0, status_failed = 1, status_usage = 2, status_damaged = 3 };

const char program[] = "jpeg2pnm";

std::string display_name(const std::string &input) {
  return input == "-" ? "(standard input)" : quoted_name(input);
}

// One line on standard error; a single call, so lines of different
// threads never interleave.
void report(const std::string &input, const std::string &text) {
  std::fprintf(stderr, "%s: %s: %s\n", program, display_name(input).c_str(), text.c_str());
}

void report_warnings(const std::string &input, const convert_result &r) {
  if (r.warnings == 0) return;
  std::string text = "warning: " + r.message;
  if (r.warnings == 2) text += " (and 1 more warning)";
  if (r.warnings > 2) text += " (and " + std::to_string(r.warnings - 1) + " more warnings)";
  report(input, text);
}

exit_status status_of(const convert_result &r) {
  if (!r.ok) return r.bad_request ? status_usage : status_failed;
  return r.warnings > 0 ? status_damaged : status_clean;
}

// Opens an input for reading; a folder is refused here, since reading one
// fails only later and less clearly.
std::FILE *open_input(const std::string &input) {
  std::FILE *in = input == "-" ? stdin : std::fopen(input.c_str(), "rb");
  if (in == nullptr) {
    report(input, std::string("cannot open: ") + std::strerror(errno));
    return nullptr;
  }
  struct stat st {};
  if (fstat(fileno(in), &st) == 0 && S_ISDIR(st.st_mode)) {
    report(input, "is a directory, not a JPEG file");
    if (in != stdin) std::fclose(in);
    return nullptr;
  }
  return in;
}

void close_input(const std::string &input, std::FILE *in) {
  if (input != "-") std::fclose(in);
}

// The whole input: the limits look at all of it before anything is
// decoded. False, reported, on a read error.
bool read_input(const std::string &input, std::FILE *in, std::vector<unsigned char> &data) {
  std::size_t size = 0;
  // A regular file's size is known: one read of it, then one to see its end.
  struct stat st {};
  const bool sized = fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
  data.resize(sized ? static_cast<std::size_t>(st.st_size) + 1 : std::size_t{1} << 16);
  for (;;) {
    size += std::fread(data.data() + size, 1, data.size() - size, in);
    if (size < data.size()) break;
    data.resize(data.size() * 2);
  }
  data.resize(size);
  if (std::ferror(in)) {
    report(input, std::string("read error: ") + std::strerror(errno));
    return false;
  }
  return true;
}

// Writes the image's ICC profile to --icc's file, or warns that it has
// none. False, reported, when the file cannot be written.
bool write_icc_profile(const std::string &input, const convert_result &r,
                       const convert_options &options) {
  if (options.icc_path.empty()) return true;
  if (!r.has_icc_profile) {
    report(input, "warning: the image has no embedded ICC profile; " +
                      quoted_name(options.icc_path) + " not written");
    return true;
  }
  output_file out;
  std::string error;
  if (!open_output(out, options.icc_path, error)) {
    report(input, quoted_name(options.icc_path) + ": " + error);
    return false;
  }
  if (std::fwrite(r.icc_profile.data(), 1, r.icc_profile.size(), out.stream) != r.icc_profile.size()) {
    error = std::string("write error: ") + std::strerror(errno);
    discard_output(out);
    report(input, quoted_name(options.icc_path) + ": " + error);
    return false;
  }
  if (!commit_output(out, error)) {
    report(input, quoted_name(options.icc_path) + ": " + error);
    return false;
  }
  return true;
}

std::string same_file_message(const std::string &output) {
  return "the output " + quoted_name(output) + " is this input file itself; choose another output";
}

// Decodes `input` into the file `target` (complete or not at all). With
// `add_extension`, .pgm, .ppm or .pam follows as the decoded image has 1,
// 3 or 4 components.
exit_status convert_to_file(const std::string &input, const std::string &target,
                            bool add_extension, const convert_options &options) {
  std::FILE *in = open_input(input);
  if (!in) return status_failed;
  output_file out;
  std::string path;
  // The output is opened once the header says which kind of image it is,
  // and only if it is not the input itself.
  const open_destination open = [&](int components, std::string &error) -> std::FILE * {
    path = add_extension ? target + pnm_extension(components) : target;
    if (output_is_input(path, fileno(in))) {
      error = same_file_message(path);
      return nullptr;
    }
    std::string reason;
    if (!open_output(out, path, reason)) {
      error = quoted_name(path) + ": " + reason;
      return nullptr;
    }
    return out.stream;
  };
  std::vector<unsigned char> data;
  if (!read_input(input, in, data)) {
    close_input(input, in);
    return status_failed;
  }
  const convert_result r = convert_jpeg(data.data(), data.size(), options, open);
  close_input(input, in);
  if (!r.ok) {
    if (r.output_opened) discard_output(out);
    report(input, r.write_failed ? quoted_name(path) + ": " + r.message : r.message);
    return status_of(r);
  }
  std::string error;
  if (!commit_output(out, error)) {
    report(input, quoted_name(path) + ": " + error);
    return status_failed;
  }
  report_warnings(input, r);
  if (!write_icc_profile(input, r, options)) return status_failed;
  return status_of(r);
}

exit_status convert_to_stdout(const std::string &input, const convert_options &options) {
  std::FILE *in = open_input(input);
  if (!in) return status_failed;
  // `jpeg2pnm x.jpg >> x.jpg` would write into the file being read.
  struct stat out_st {}, in_st {};
  if (fstat(STDOUT_FILENO, &out_st) == 0 && fstat(fileno(in), &in_st) == 0 &&
      S_ISREG(out_st.st_mode) && out_st.st_dev == in_st.st_dev && out_st.st_ino == in_st.st_ino) {
    close_input(input, in);
    report(input, same_file_message("(standard output)"));
    return status_failed;
  }
  std::vector<unsigned char> data;
  const bool read = read_input(input, in, data);
  close_input(input, in);
  if (!read) return status_failed;
  const convert_result r = convert_jpeg(data.data(), data.size(), options,
                                        [](int, std::string &) { return stdout; });
  if (!r.ok) {
    report(input, r.message);
    return status_of(r);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    report(input, std::string("(standard output): write error: ") + std::strerror(errno));
    return status_failed;
  }
  report_warnings(input, r);
  if (!write_icc_profile(input, r, options)) return status_failed;
  return status_of(r);
}

// DIR/NAME without the input's extension; standard input is "stdin".
std::string target_stem(const std::string &directory, const std::string &input) {
  std::string name = input == "-" ? "stdin" : input.substr(input.rfind('/') + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return directory + (directory.back() == '/' ? "" : "/") + name;
}

exit_status worse(exit_status a, exit_status b) {
  // A failure outranks damage, which outranks a clean decode.
  auto rank = [](exit_status s) {
    return s == status_usage ? 3 : s == status_failed ? 2 : s == status_damaged ? 1 : 0;
  };
  return rank(a) >= rank(b) ? a : b;
}

// Creates the folder of -d when it is missing (its parent must exist).
bool make_directory(const std::string &directory) {
  struct stat st {};
  if (stat(directory.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    std::fprintf(stderr, "%s: %s: not a directory; name a folder for -d\n", program,
                 quoted_name(directory).c_str());
    return false;
  }
  if (mkdir(directory.c_str(), 0777) == 0 || errno == EEXIST) return true;
  std::fprintf(stderr, "%s: cannot create directory %s: %s\n", program,
               quoted_name(directory).c_str(), std::strerror(errno));
  return false;
}

exit_status convert_many(const command_line &line) {
  const auto &inputs = line.inputs;
  std::map<std::string, std::string> stems;
  for (const auto &input : inputs) {
    const auto [it, fresh] = stems.emplace(target_stem(line.directory, input), input);
    if (!fresh) {
      std::fprintf(stderr, "%s: %s and %s would both be written as %s.*; decode them apart\n",
                   program, quoted_name(it->second).c_str(), quoted_name(input).c_str(),
                   quoted_name(it->first).c_str());
      return status_usage;
    }
  }
  if (!make_directory(line.directory)) return status_failed;
  unsigned jobs = line.jobs ? line.jobs : std::max(1u, std::thread::hardware_concurrency());
  jobs = std::min<unsigned>(jobs, static_cast<unsigned>(inputs.size()));

  std::atomic<std::size_t> next{0};
  std::vector<exit_status> statuses(inputs.size(), status_clean);
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < inputs.size();) {
      statuses[i] = convert_to_file(inputs[i], target_stem(line.directory, inputs[i]), true,
                                    line.convert);
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < jobs; ++t) threads.emplace_back(work);
  work();
  for (auto &t : threads) t.join();

  exit_status overall = status_clean;
  for (exit_status s : statuses) overall = worse(overall, s);
  return overall;
}

exit_status run(const command_line &line) {
  if (!line.directory.empty()) return convert_many(line);
  const std::string &input = line.inputs.front();
  if (!line.output.empty() && line.output != "-") {
    return convert_to_file(input, line.output, false, line.convert);
  }
  if (isatty(STDOUT_FILENO)) {
    std::fprintf(stderr, "%s: not writing image data to a terminal; use -o FILE or a redirect\n",
                 program);
    return status_usage;
  }
  return convert_to_stdout(input, line.convert);
}

}  // namespace

int main(int argc, char **argv) {
  install_output_cleanup();
  const parse_result parsed = parse_command_line(argc, argv);
  switch (parsed.outcome) {
    case parse_outcome::help:
      std::fputs(usage_text, stdout);
      return status_clean;
    case parse_outcome::version:
      std::printf("%s (tamlo) %s, libjpeg API version %d\n", program, TAMLO_VERSION,
                  JPEG_LIB_VERSION);
      return status_clean;
    case parse_outcome::usage_error:
      std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program,
                   parsed.error.c_str(), program);
      return status_usage;
    case parse_outcome::run:
      break;
  }
  return run(parsed.line);
}
