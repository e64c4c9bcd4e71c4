#include "read_commands.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command_io.h"
#include "command_options.h"
#include "melody_check.h"
#include "message_text.h"
#include "note_lookup.h"
#include "output_file.h"
#include "sound/render.h"
#include "sound/sound_file.h"
#ifdef TONETOOL_PLAY
#include "sound/sound_device.h"
#endif
#include "tone_records.h"

namespace {

// The longest melody text check reads: melodyc compiles any length, but a
// checker shows source lines and so holds the text.
constexpr std::size_t longest_checked_text = std::size_t{256} << 20;

}  // namespace

int run_list(int argc, char **argv) {
  double unit_ms = render_settings{}.unit_ms;
  std::string output;
  const command_form form{
      program_name, "list", "[--unit-ms MS] [-o OUT] [FILE]",
      "List the tone records melodyc writes (from FILE, or standard input), one\n"
      "line per record after a header: index, start time in seconds, period,\n"
      "frequency, the note melodyc compiles to that period (P for a pause; for\n"
      "a period no playable note has, the nearest note and how far off it is,\n"
      "as ~A#4 +12 cents) and the duration in units. Records are listed as they\n"
      "arrive.\n",
      "Exit status: 0 listed; 1 unreadable input, a partial record or an output\n"
      "error; 2 bad command line.\n",
      {unit_option(unit_ms, ", for the start times"),
       output_option(output, "the listing's file, written whole or not at all\n(default: standard output, line by line)")}};
  input_file in;
  int status = status_ok;
  if (!start_command(form, argc, argv, output, in, status)) return status;
  const bool to_file = !output.empty() && output != "-";
  output_file file;
  std::string error;
  if (to_file && !open_output(file, output, error)) {
    close_input(in);
    report(quoted_name(output), error);
    return status_failed;
  }
  std::FILE *out = to_file ? file.stream : stdout;
  const std::string out_name = to_file ? quoted_name(output) : standard_output_name;
  const auto write_failed = [&] {
    close_input(in);
    discard_output(file);
    report(out_name, write_error_text(errno));
    return status_failed;
  };
  // Records are listed as they arrive, each block flushed at once, so that
  // a live stream shows as it plays and an endless one needs no memory.
  // The header waits for the first records, so that an input of the
  // wrong kind gets its one line before anything is listed.
  tone_reader reader = start_tone_reader(in.stream);
  std::vector<tone> block;
  std::uint64_t units = 0;
  std::size_t index = 0;
  bool headed = false;
  const auto head = [&] {
    if (!headed) std::fprintf(out, "%s\n", list_header().c_str());
    headed = true;
  };
  while (read_tone_block(reader, block)) {
    head();
    for (const tone &t : block) {
      const double start = static_cast<double>(units) * unit_ms / 1000.0;
      std::fprintf(out, "%s\n", list_line(index++, start, t.period, t.duration).c_str());
      units += t.duration;
    }
    if (std::fflush(out) != 0) return write_failed();
  }
  if (!finish_reading(in, reader, "list")) {
    discard_output(file);
    return status_failed;
  }
  head();
  if (std::fflush(out) != 0) return write_failed();
  if (to_file && !commit_output(file, error)) {
    report(out_name, error);
    return status_failed;
  }
  return status_ok;
}

namespace {

// An input with no records at all, which no sound is made of: said, so
// that a pipe whose first command failed does not end in a silent file.
bool no_records(const input_file &in, const tone_reader &reader) {
  if (!reader.pending.empty() || !reader.read_error.empty() || reader.carried_bytes > 0) return false;
  report(display(in), "no tone records: the input is empty (did the command before it in a pipe fail?)");
  return true;
}

// The options wav and play share: how the records are rendered.
std::vector<option_entry> rendering_options(render_settings &settings) {
  return {unit_option(settings.unit_ms),
          whole_option("rate", 0, "HZ", "sample rate, whole hertz from 8000 to 192000\n(default 44100)",
                       {8000, 192000, "rate", "whole hertz"}, settings.rate),
          {"volume", 0, "V", "peak level, above 0 up to 1 (default 0.5)", [&settings](const std::string &v) {
             if (!parse_decimal(v, 0, 1, true, settings.volume)) return invalid_value("volume", v, "above 0 up to 1");
             return std::string();
           }}};
}

// A unit shorter than half a sample would render every record as none:
// the usage error that says so, or "" for a unit that renders.
std::string unit_problem(const render_settings &settings) {
  if (std::llround(settings.unit_ms * settings.rate / 1000.0) >= 1) return "";
  return "--unit-ms " + plain_number(settings.unit_ms, 9) + " renders a unit as no sample at " +
         std::to_string(settings.rate) + " Hz; give at least " +
         plain_number(std::ceil(500000.0 / settings.rate) / 1000, 3);
}

}  // namespace

int run_wav(int argc, char **argv) {
  render_settings settings;
  std::string output;
  command_form form{
      program_name, "wav", "[--unit-ms MS] [--rate HZ] [--volume V] [-o OUT] [FILE]",
      "Render the tone records melodyc writes (from FILE, or standard input) as\n"
      "16-bit sound: each record a square wave of 1,500,000 / period Hz for\n"
      "duration x unit, a pause silence, rendered as the records arrive.\n",
      "Exit status: 0 written; 1 unreadable input, a partial record or an output\n"
      "error (no file is left); 2 bad command line.\n",
      {output_option(output,
                     "the sound file; its extension picks the format (.wav,\n"
                     ".flac, .aiff or .aif, .au, .caf); - or none writes WAV\n"
                     "to standard output, and so does a device or FIFO\n"
                     "without an extension. The output goes where the\n"
                     "shell's > would go (see tonetool(1)); the input file\n"
                     "itself is refused")}};
  for (option_entry &o : rendering_options(settings)) form.options.push_back(std::move(o));
  bool to_stdout = true;
  int format = 0;
  input_file in;
  int status = status_ok;
  if (!start_command(form, argc, argv, output, in, status, [&] {
        to_stdout = output.empty() || output == "-";
        if (const std::string problem = unit_problem(settings); !problem.empty()) return problem;
        format = to_stdout ? 0 : sound_format_for(output);
        if (!to_stdout && format == 0) {
          return "no sound format for " + quoted_value(output) + " (use .wav, .flac, .aiff or .aif, .au or .caf)";
        }
        return std::string(to_stdout && isatty(STDOUT_FILENO)
                               ? "not writing sound to a terminal; use -o OUT or a redirect"
                               : "");
      })) {
    return status;
  }
  // The sound is rendered as the records arrive; from a file their length
  // is known first, so the header is exact before the first sample.
  tone_reader reader = start_tone_reader(in.stream);
  read_first_records(reader);
  if (reader.melody_text || no_records(in, reader)) {
    finish_reading(in, reader, "wav");
    return status_failed;
  }
  sound_source source{reader, false, 0, [&] { return finish_reading(in, reader, "wav"); }};
  source.known = units_of_file(reader, source.units);
  std::string error;
  const bool ok = to_stdout ? write_sound_stdout(source, settings, error)
                            : write_sound_file(output, format, source, settings, error);
  close_input(in);
  if (!ok && !error.empty()) report(to_stdout ? standard_output_name : quoted_name(output), error);
  return ok ? status_ok : status_failed;
}

#ifdef TONETOOL_PLAY
int run_play(int argc, char **argv) {
  render_settings settings;
  std::string device = "default";
  command_form form{
      program_name, "play", "[--device NAME] [--unit-ms MS] [--rate HZ] [--volume V] [FILE]",
      "Play the tone records melodyc writes (from FILE, or standard input) on a\n"
      "sound device through ALSA (PipeWire and PulseAudio too, behind ALSA's\n"
      "default), rendered as wav renders them and played as they arrive, so a\n"
      "pipe plays at once. Ctrl-C stops it at once.\n",
      "Exit status: 0 played; 1 unreadable input, a partial record or a device\n"
      "that does not open or fails; 2 bad command line.\n",
      {{"device", 'D', "NAME", "the ALSA device, as aplay -D takes it (default\n\"default\")",
        take_name("--device", "device", device)}}};
  for (option_entry &o : rendering_options(settings)) form.options.push_back(std::move(o));
  input_file in;
  int status = status_ok;
  if (!start_command(form, argc, argv, "-", in, status, [&] { return unit_problem(settings); })) return status;
  // The file plugin truncates its file as the device opens, so it is never
  // the input; and it opens it without a word when it cannot, so a folder
  // that is not there is said here.
  if (const std::string file = device_file(device); !file.empty()) {
    const std::string folder = file.find('/') == std::string::npos ? "." : file.substr(0, file.rfind('/') + 1);
    std::string problem;
    if (output_is_input(file, fileno(in.stream))) {
      problem = "the device's file is this input file itself; choose another file";
    } else if (access(folder.c_str(), W_OK | X_OK) != 0) {
      problem = with_errno("cannot write " + quoted_name(file));
    }
    if (!problem.empty()) {
      report(quoted_name(device), problem);
      close_input(in);
      return status_failed;
    }
  }
  tone_reader reader = start_tone_reader(in.stream);
  read_first_records(reader);
  if (reader.melody_text || no_records(in, reader)) {
    finish_reading(in, reader, "play");
    return status_failed;
  }
  sound_source source{reader, false, 0, [&] { return finish_reading(in, reader, "play"); }};
  std::string error;
  const bool ok = play_sound(device, source, settings, error);
  close_input(in);
  if (!ok && !error.empty()) report(quoted_name(device), error);
  return ok ? status_ok : status_failed;
}
#endif

int run_check(int argc, char **argv) {
  bool werror = false;
  int max_errors = 20;
  const command_form form{
      program_name, "check", "[--werror] [--max-errors N] [FILE]",
      "Check a melody text (from FILE, or standard input) for every error melodyc\n"
      "would stop at and every construct it accepts but a person rarely means,\n"
      "reported as FILE:LINE:COLUMN: error: (or warning:) with the source line and\n"
      "a caret under the token, then a summary line.\n",
      "Exit status: 0 no errors; 1 errors (or, with --werror, warnings) or an\n"
      "unreadable input; 2 bad command line.\n",
      {flag_option("werror", "treat warnings as errors", werror),
       whole_option("max-errors", 0, "N", "stop showing findings after N errors (default 20; 0 for\nall); the summary "
                    "counts them all",
                    {0, 1000000, "error count", nullptr, "a whole number, 0 for all"}, max_errors)}};
  input_file in;
  int status = status_ok;
  if (!start_command(form, argc, argv, "", in, status)) return status;
  std::string text;
  if (!read_text(in, longest_checked_text, text)) return status_failed;
  const std::string name = display(in);
  if (looks_like_tone_records(text)) {
    ::report(name, "these are tone records, not a melody text: check the melody melodyc compiled them from, or read "
                   "them with tonetool list " + (in.name == "-" ? std::string("tune.tones") : in.name));
    return status_failed;
  }
  // Each finding goes out as it is found, whole (it may hold any byte), up
  // to the error limit; past it they are only counted.
  const source_lines lines(text);
  const bool colour = colour_on_standard_error();
  int shown_errors = 0;
  bool stopped = false;
  const check_report report = check_melody(text, lines, [&](const finding &f) {
    if (stopped) return;
    const std::string out = format_finding(f, lines, name, werror, colour);
    std::fwrite(out.data(), 1, out.size(), stderr);
    if (f.kind == finding_kind::error || werror) ++shown_errors;
    stopped = max_errors != 0 && shown_errors >= max_errors;
  });
  const int errors = report.errors + (werror ? report.warnings : 0);
  const int warnings = werror ? 0 : report.warnings;
  if (stopped && errors + warnings > shown_errors) {
    ::report(name, "stopped after " + std::to_string(shown_errors) + " errors; --max-errors N shows more, 0 all");
  }
  if (report.more_out_of_range > 0) {
    const int k = std::abs(report.octaves_off);
    ::report_note(name, "and " + std::to_string(report.more_out_of_range) +
                            (report.more_out_of_range == 1 ? " more note" : " more notes") + " out of range, each " +
                            std::to_string(k) + (k == 1 ? " octave " : " octaves ") +
                            (report.octaves_off > 0 ? "too high" : "too low") + " with the rest");
  }
  if (errors + warnings > 0) ::report(name, report_summary(errors, warnings));
  return errors > 0 ? status_failed : status_ok;
}
