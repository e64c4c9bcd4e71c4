// What tonetool's commands share for input and output: opening, reading
// whole or as it arrives, writing whole.
#include "command_io.h"

#include <cerrno>

#include "input_file.h"
#include "message_text.h"
#include "output_file.h"

bool open_command_input(const std::vector<std::string> &operands, const std::string &output, command_input &in, int &status) {
  status = status_failed;
  in.name = operands.empty() ? "-" : operands.front();
  std::string error;
  in.stream = open_input_file(in.name, "a file", error);
  if (!in.stream) {
    report(input_label(in), error);
    return false;
  }
  const bool to_stdout = output.empty() || output == "-";
  if (to_stdout ? standard_output_is_file(fileno(in.stream)) : output_is_input(output, fileno(in.stream))) {
    // Reading what is being written would never end (`tonetool list F >> F`).
    report(to_stdout ? standard_output_name : quoted_name(output),
           "the output is this input file itself; choose another output");
    close_input(in);
    return false;
  }
  status = status_ok;
  return true;
}

void close_input(command_input &in) {
  close_input_file(in.stream);
  in.stream = nullptr;
}

std::string input_label(const command_input &in) { return input_name(in.name); }

namespace {

bool report_partial_record(const command_input &in, std::uint64_t records, std::size_t trailing_bytes) {
  if (trailing_bytes == 0) return false;
  report(input_label(in), "stream ends inside record " + std::to_string(records) + " (" +
                          std::to_string(trailing_bytes) +
                          " of its 3 bytes); a tone stream is a whole number of 3-byte records");
  return true;
}

}  // namespace

bool read_input(command_input &in, tone_stream &stream, std::size_t max_records, const char *what) {
  stream = read_tones(in.stream, max_records);
  close_input(in);
  if (stream.too_long) {
    report(input_label(in), "more than " + std::to_string(max_records) + " records, too many for " + what +
                            "; is this the right file?");
    return false;
  }
  if (!stream.read_error.empty()) {
    report(input_label(in), stream.read_error);
    return false;
  }
  return !report_partial_record(in, stream.tones.size(), stream.trailing_bytes);
}

bool finish_reading(command_input &in, const tone_reader &reader, const char *command) {
  close_input(in);
  if (reader.melody_text) {
    report(input_label(in), std::string("this is a melody text, not tone records; compile it first: melodyc < ") +
                            (in.name == "-" ? "tune.mel" : in.name) + " | tonetool " + command);
    return false;
  }
  if (!reader.read_error.empty()) {
    report(input_label(in), reader.read_error);
    return false;
  }
  return !report_partial_record(in, reader.records, reader.carried_bytes);
}

bool read_text(command_input &in, std::size_t limit, std::string &text) {
  text.clear();
  char buffer[1 << 16];
  bool too_long = false;
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in.stream)) > 0;) {
    if (text.size() + n > limit) {
      too_long = true;
      break;
    }
    text.append(buffer, n);
  }
  const std::string read_failure = !too_long && std::ferror(in.stream) != 0 ? read_error_text() : "";
  close_input(in);
  if (!read_failure.empty()) {
    report(input_label(in), read_failure);
    return false;
  }
  if (too_long) {
    report(input_label(in), "longer than " + std::to_string(limit) + " bytes; is this the right file?");
    return false;
  }
  return true;
}


bool start_command(const command_form &form, int argc, char **argv, const std::string &output, command_input &in,
                   int &status, const std::function<std::string()> &check) {
  const parsed_command parsed = parse_command(form, argc, argv);
  if (parsed.outcome == command_outcome::help) {
    std::fputs(help_text(form).c_str(), stdout);
    status = status_ok;
    return false;
  }
  std::string problem = parsed.outcome == command_outcome::usage_error ? parsed.error
                        : parsed.operands.size() > 1                   ? "too many inputs: one FILE at most"
                        : check                                         ? check()
                                                                        : "";
  if (!problem.empty()) {
    status = usage_error(form, problem);
    return false;
  }
  return open_command_input(parsed.operands, output, in, status);
}
