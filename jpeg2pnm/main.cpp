// jpeg2pnm: decodes JPEG images to PGM, PPM or PAM through the tamlo_jpeg
// row sink.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "command_table.h"
#include "decode/decode_image.h"
#include "diagnostics.h"
#include "input/jpeg_input.h"
#include "input_file.h"
#include "message_text.h"
#include "options.h"
#include "output/image_outputs.h"
#include "output_file.h"
#include "plan/image_limits.h"
#include "plan/image_plan.h"
#include "progress.h"
#include "standard_output.h"

namespace {

// The statuses of every program (command_table.h), and one of jpeg2pnm's
// own: an image written, but with damaged data.
using exit_status = int;
constexpr exit_status status_clean = status_ok, status_damaged = 3;

const char program[] = "jpeg2pnm";

// A message about an input, named as every message names it.
void report_input(const std::string &input, const std::string &text) { report(input_name(input), text); }

// A malformed command line, in the form every program here uses.
int command_line_error(const std::string &message) {
  return usage_error(command_form{program, nullptr, "", "", "", {}}, message);
}

void report_warnings(const std::string &input, const decode_result &r) {
  if (r.warnings == 0) return;
  std::string text = r.message;
  if (r.warnings == 2) text += " (and 1 more warning)";
  if (r.warnings > 2) text += " (and " + std::to_string(r.warnings - 1) + " more warnings)";
  report_warning(input_name(input), text);
}

exit_status status_of(const decode_result &r) {
  // Options that cannot work for this image fail it, as any refusal of
  // the image does; only a malformed command line is a usage error.
  if (!r.ok) return status_failed;
  return r.warnings > 0 ? status_damaged : status_clean;
}

// The memory a job keeps from one image to the next: what inputs are read
// into, and the blocks rows are written in.
struct job_memory {
  input_memory input;
  block_ring blocks;
};

// Decodes `input` to `o`'s outputs (complete or not at all), in three
// stages: the plan, from the header; the outputs it names, opened here;
// the decode into them.
exit_status convert_one(const std::string &input, image_outputs &o, const convert_options &options,
                        job_memory &memory) {
  // Closed on every way out, running out of memory included; the held
  // bytes outlive it.
  const std::unique_ptr<std::FILE, void (*)(std::FILE *)> in(open_jpeg_input(input), close_input_file);
  if (!in) return status_failed;
  if (o.target == "-" && standard_output_is_file(fileno(in.get()))) {
    report_input(input, same_file_message(standard_output_name));
    return status_failed;
  }
  jpeg_input data;
  if (!load_jpeg_input(input, in.get(), input_limit(options), memory.input, data)) return status_failed;
  const image_plan plan = plan_image({data.bytes, data.size}, options);
  if (!plan.ok) {
    report_input(input, plan.refusal);
    return status_failed;
  }
  std::string refusal;
  std::FILE *out = open_outputs(o, options, fileno(in.get()), plan.components, plan.has_icc_profile, refusal);
  if (out == nullptr) {
    report_input(input, refusal);
    return status_failed;
  }
  const decode_result r = decode_image({data.bytes, data.size}, plan, out, memory.blocks);
  if (!r.ok) {
    discard_image_outputs(o);
    report_input(input, r.write_failed ? output_label(o.image) + ": " + r.message : r.message);
    return status_of(r);
  }
  if (!commit_image(input, o, plan.icc_profile, options)) return status_failed;
  report_warnings(input, r);
  if (!plan.exif_damage.empty()) {
    report_warning(input_name(input), "the EXIF block is damaged (" + plan.exif_damage + "); the image is not turned");
  }
  if (!options.icc_path.empty() && !plan.has_icc_profile) {
    report_warning(input_name(input),
                   "the image has no embedded ICC profile; " + quoted_name(options.icc_path) + " not written");
  }
  return status_of(r);
}

// Said even when the memory to say it has run out too.
void report_out_of_memory(const std::string &input) {
  const char text[] = "out of memory; decode it on a machine with more, or lower the limits";
  try {
    report_input(input, text);
  } catch (const std::bad_alloc &) {
    report_without_memory(input, text);
  }
}

// convert_one, with running out of memory reported as one line of this
// input's, not as an abort.
exit_status convert_guarded(const std::string &input, image_outputs &o, const convert_options &options,
                            job_memory &memory) {
  try {
    return convert_one(input, o, options, memory);
  } catch (const std::bad_alloc &) {
    discard_image_outputs(o);
    report_out_of_memory(input);
    return status_failed;
  }
}

exit_status convert_to_file(const std::string &input, const std::string &target, bool add_extension,
                            const convert_options &options, job_memory &memory) {
  image_outputs o;
  o.target = target;
  o.add_extension = add_extension;
  return convert_guarded(input, o, options, memory);
}

exit_status convert_to_stdout(const std::string &input, const convert_options &options, job_memory &memory) {
  image_outputs o;
  o.target = "-";
  return convert_guarded(input, o, options, memory);
}

// DIR/NAME without the input's extension; standard input is "stdin".
std::string target_stem(const std::string &directory, const std::string &input) {
  std::string name = input == "-" ? "stdin" : input.substr(input.rfind('/') + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return directory + (directory.back() == '/' ? "" : "/") + name;
}

exit_status more_serious(exit_status a, exit_status b) {
  // A failure outranks damage, which outranks a clean decode.
  auto rank = [](exit_status s) {
    return s == status_usage ? 3 : s == status_failed ? 2 : s == status_damaged ? 1 : 0;
  };
  return rank(a) >= rank(b) ? a : b;
}

// The soft limit on open descriptors, raised to the hard limit once.
rlim_t descriptor_limit() {
  static const rlim_t limit = [] {
    struct rlimit r {};
    if (getrlimit(RLIMIT_NOFILE, &r) != 0) return rlim_t{1024};
    if (r.rlim_cur < r.rlim_max) {
      const rlim_t wanted = r.rlim_max;
      r.rlim_cur = wanted;
      if (setrlimit(RLIMIT_NOFILE, &r) == 0) return wanted;
      getrlimit(RLIMIT_NOFILE, &r);
    }
    return r.rlim_cur;
  }();
  return limit;
}

// How many images may be decoded at once: each holds its input, its
// output, the output's folder and an existing file it replaces open, and
// a few descriptors stay for the program itself.
unsigned jobs_within_descriptor_limit() {
  constexpr rlim_t per_job = 4, own = 8;
  const rlim_t limit = descriptor_limit();
  if (limit == RLIM_INFINITY || limit >= own + per_job * 1024) return 1024;
  return limit <= own + per_job ? 1u : static_cast<unsigned>((limit - own) / per_job);
}

exit_status convert_many(const command_line &line) {
  const auto &inputs = line.inputs;
  std::map<std::string, std::string> stems;
  for (const auto &input : inputs) {
    // A folder has no output name; opening it says what it is.
    struct stat st {};
    if (input != "-" && stat(input.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    const auto [it, fresh] = stems.emplace(target_stem(line.directory, input), input);
    if (!fresh) {
      return command_line_error(quoted_name(it->second) + " and " + quoted_name(input) +
                                " would both be written as " + quoted_name(it->first) + ".*; decode them apart");
    }
  }
  if (!make_output_folder(line.directory)) return status_failed;
  unsigned jobs = line.jobs ? line.jobs : std::max(1u, std::thread::hardware_concurrency());
  jobs = std::min<unsigned>(jobs, static_cast<unsigned>(inputs.size()));
  const unsigned most = jobs_within_descriptor_limit();
  if (jobs > most) {
    report("-j " + std::to_string(line.jobs ? line.jobs : jobs),
           "running " + std::to_string(most) + (most == 1 ? " job" : " jobs") + ", as many as the limit of " +
               std::to_string(descriptor_limit()) + " open files (ulimit -n) allows");
    jobs = most;
  }

  // A writer thread for each job only where the jobs leave cores idle.
  command_line batch = line;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  batch.convert.write_behind = 2 * jobs <= cores;
  batch.convert.strips = std::max(1u, cores / jobs);
  std::atomic<std::size_t> next{0};
  std::vector<exit_status> statuses(inputs.size(), status_clean);
  auto work = [&] {
    job_memory memory;
    for (std::size_t i; (i = next.fetch_add(1)) < inputs.size();) {
      try {
        statuses[i] = convert_to_file(inputs[i], target_stem(line.directory, inputs[i]), true, batch.convert, memory);
      } catch (const std::bad_alloc &) {
        statuses[i] = status_failed;
        report_out_of_memory(inputs[i]);
      }
      count_finished(statuses[i] == status_failed, statuses[i] == status_damaged);
    }
  };
  // A line that counts the files, where someone watches standard error.
  start_progress(inputs.size(), inputs.size() > 1 && !line.quiet && (line.progress || isatty(STDERR_FILENO)));
  // Jobs whose thread cannot start are left to the others, this one last.
  std::vector<std::thread> threads;
  threads.reserve(jobs);
  for (unsigned t = 1; t < jobs; ++t) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error &) {
      break;
    }
  }
  work();
  for (auto &t : threads) t.join();
  stop_progress();

  exit_status overall = status_clean;
  for (exit_status s : statuses) overall = more_serious(overall, s);
  return overall;
}

exit_status run(const command_line &given) {
  if (!given.directory.empty()) return convert_many(given);
  command_line line = given;
  line.convert.write_behind = std::thread::hardware_concurrency() > 1;
  line.convert.strips = std::max(1u, std::thread::hardware_concurrency());
  const std::string &input = line.inputs.front();
  job_memory memory;
  if (!line.output.empty() && line.output != "-") {
    return convert_to_file(input, line.output, false, line.convert, memory);
  }
  if (isatty(STDOUT_FILENO)) {
    return command_line_error("not writing image data to a terminal; use -o FILE or a redirect");
  }
  return convert_to_stdout(input, line.convert, memory);
}

int run_program(int argc, char **argv) {
  const parse_result parsed = parse_command_line(argc, argv);
  switch (parsed.outcome) {
    case command_outcome::help:
      std::fputs(usage_text().c_str(), stdout);
      return status_clean;
    case command_outcome::version:
      std::printf("%s (tamlo) %s, libjpeg API version %d\n", program, TAMLO_VERSION,
                  JPEG_LIB_VERSION);
      return status_clean;
    case command_outcome::usage_error:
      return command_line_error(parsed.error);
    case command_outcome::run:
      break;
  }
  return run(parsed.line);
}

}  // namespace

int main(int argc, char **argv) {
  set_program_name(program);
  set_line_writer(say_line);  // never inside the progress line of a batch
  hold_closed_standard_descriptors();
  install_output_cleanup();
  remove_outputs_on_bus_error("jpeg2pnm: an input file shrank while it was being decoded; "
                              "the outputs of unfinished images were removed\n");
  return finish_standard_output(run_program(argc, argv));
}
