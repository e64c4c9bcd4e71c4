// tonetool: lists a tone record stream as text, renders it as sound,
// checks melody texts and converts ringtones, MIDI files and C arrays.
#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>

#include "command_line.h"
#include "convert_commands.h"
#include "melody_check.h"
#include "message_text.h"
#include "note_lookup.h"
#include "output_file.h"
#include "standard_output.h"
#include "render.h"
#include "sound_file.h"
#include "tone_records.h"

namespace {

const char list_usage[] =
    "Usage: tonetool list [--unit-ms MS] [FILE]\n"
    "List the tone records melodyc writes (from FILE, or standard input), one\n"
    "line per record after a header: index, start time in seconds, period,\n"
    "frequency, the note melodyc compiles to that period (P for a pause; for\n"
    "a period no playable note has, the nearest note and how far off it is,\n"
    "as ~A#4 +12 cents) and the duration in units.\n"
    "\n"
    "  --unit-ms=MS   milliseconds per duration unit, for the start times,\n"
    "                 above 0 up to 60000 (default 125)\n";

const char wav_usage[] =
    "Usage: tonetool wav [--unit-ms MS] [--rate HZ] [--volume V] [-o OUT] [FILE]\n"
    "Render the tone records melodyc writes (from FILE, or standard input) as\n"
    "16-bit sound: each record a square wave of 1,500,000 / period Hz for\n"
    "duration x unit, a pause silence.\n"
    "\n"
    "  -o, --output=OUT  the sound file; its extension picks the format (.wav,\n"
    "                    .flac, .aiff or .aif, .au, .caf); - or none writes WAV\n"
    "                    to standard output. A new file gets the mode a shell\n"
    "                    redirection would give it and appears only when\n"
    "                    complete; an existing one is replaced only then and\n"
    "                    keeps its mode and owner; a symbolic link is\n"
    "                    followed; a device or FIFO is written directly; the\n"
    "                    input file itself is refused\n"
    "  --unit-ms=MS      milliseconds per duration unit, above 0 up to 60000\n"
    "                    (default 125)\n"
    "  --rate=HZ         sample rate, whole hertz from 8000 to 192000\n"
    "                    (default 44100)\n"
    "  --volume=V        peak level, above 0 up to 1 (default 0.5)\n";

const char check_usage[] =
    "Usage: tonetool check [--werror] [--max-errors N] [FILE]\n"
    "Check a melody text (from FILE, or standard input) for every error melodyc\n"
    "would stop at and every construct it accepts but a person rarely means,\n"
    "reported as FILE:LINE:COLUMN: error: (or warning:) with the source line and\n"
    "a caret under the token, then a summary line.\n"
    "\n"
    "  --werror        treat warnings as errors\n"
    "  --max-errors=N  stop showing findings after N errors (default 20; 0 for\n"
    "                  all); the summary counts them all\n"
    "\n"
    "Exit status: 0 no errors; 1 errors (or, with --werror, warnings) or an\n"
    "unreadable input; 2 bad command line.\n";

const char usage_text[] =
    "Usage: tonetool list [--unit-ms MS] [FILE]\n"
    "       tonetool wav [--unit-ms MS] [--rate HZ] [--volume V] [-o OUT] [FILE]\n"
    "       tonetool check [--werror] [--max-errors N] [FILE]\n"
    "       tonetool rtttl [--approximate] [--unit-ms MS] [--transpose N] [-o OUT] [FILE]\n"
    "       tonetool midi [--unit-ms MS] [--beat UNITS] [-o OUT] [FILE]\n"
    "       tonetool c [--name NAME] [-o OUT] [FILE]\n"
    "Read back the tone records melodyc writes (from FILE, or standard input),\n"
    "or check a melody text before compiling it.\n"
    "\n"
    "  list   one line per record: index, start, period, frequency, note, units\n"
    "  wav    render as sound (WAV, FLAC, AIFF, AU or CAF)\n"
    "  check  every error and suspicious construct of a melody text\n"
    "  rtttl  an RTTTL ringtone as a melody text\n"
    "  midi   the records as a standard MIDI file\n"
    "  c      the records as C source for firmware\n"
    "  --help, --version\n"
    "'tonetool COMMAND --help' tells more of each command.\n"
    "\n"
    "Exit status: 0 success; 1 unreadable input, a partial record or an\n"
    "output error; 2 bad command line.\n";

int run_list(int argc, char **argv) {
  enum { opt_help = 256, opt_unit };
  static const option options[] = {{"help", no_argument, nullptr, opt_help},
                                   {"unit-ms", required_argument, nullptr, opt_unit},
                                   {nullptr, 0, nullptr, 0}};
  double unit_ms = render_settings{}.unit_ms;
  optind = 1;
  opterr = 0;
  for (int opt; (opt = getopt_long(argc, argv, ":", options, nullptr)) != -1;) {
    if (opt == opt_help) {
      std::fputs(list_usage, stdout);
      return status_ok;
    }
    if (opt == opt_unit) {
      int status = status_ok;
      if (!take_unit_ms(optarg, unit_ms, status)) return status;
      continue;
    }
    return usage_error("list: " + option_error(argv, options, opt));
  }
  input_file in;
  int status = status_ok;
  if (!open_input(argc, argv, in, status)) return status;
  // Records are listed as they arrive, each block flushed at once, so that
  // a live stream shows as it plays and an endless one needs no memory.
  std::printf("%s\n", list_header().c_str());
  tone_reader reader = start_tone_reader(in.stream);
  std::vector<tone> block;
  std::uint64_t units = 0;
  std::size_t index = 0;
  while (read_tone_block(reader, block)) {
    for (const tone &t : block) {
      const double start = static_cast<double>(units) * unit_ms / 1000.0;
      std::printf("%s\n", list_line(index++, start, t.period, t.duration).c_str());
      units += t.duration;
    }
    if (std::fflush(stdout) != 0) {
      close_input(in);
      std::fprintf(stderr, "%s: (standard output): write error: %s\n", program_name, std::strerror(errno));
      return status_failed;
    }
  }
  return finish_reading(in, reader) ? status_ok : status_failed;
}

int run_wav(int argc, char **argv) {
  enum { opt_unit = 256, opt_rate, opt_volume, opt_help };
  static const option options[] = {
      {"help", no_argument, nullptr, opt_help},
      {"output", required_argument, nullptr, 'o'},
      {"unit-ms", required_argument, nullptr, opt_unit},
      {"rate", required_argument, nullptr, opt_rate},
      {"volume", required_argument, nullptr, opt_volume},
      {nullptr, 0, nullptr, 0},
  };
  render_settings settings;
  std::string output;
  int status = status_ok;
  optind = 1;
  opterr = 0;
  for (;;) {
    const int opt = getopt_long(argc, argv, ":o:", options, nullptr);
    if (opt == -1) break;
    const std::string value = optarg ? optarg : "";
    double number = 0;
    switch (opt) {
      case opt_help:
        std::fputs(wav_usage, stdout);
        return status_ok;
      case 'o':
        if (!take_output("wav", value, output, status)) return status;
        break;
      case opt_unit:
        if (!take_unit_ms(value, settings.unit_ms, status)) return status;
        break;
      case opt_rate:
        if (!take_whole(value, 8000, 192000, "rate", "whole hertz, 8000 to 192000", settings.rate, status)) {
          return status;
        }
        break;
      case opt_volume:
        if (!parse_real(value.c_str(), 0, 1, true, number)) {
          return usage_error("invalid volume " + quoted_value(value) + " (above 0 up to 1)");
        }
        settings.volume = number;
        break;
      default:
        return usage_error("wav: " + option_error(argv, options, opt));
    }
  }
  const bool to_stdout = output.empty() || output == "-";
  const int format = to_stdout ? 0 : sound_format_for(output);
  if (!to_stdout && format == 0) {
    return usage_error("no sound format for " + quoted_value(output) +
                       " (use .wav, .flac, .aiff or .aif, .au or .caf)");
  }
  if (to_stdout && isatty(STDOUT_FILENO)) {
    return usage_error("not writing sound to a terminal; use -o OUT or a redirect");
  }
  input_file in;
  if (!open_input_for(argc, argv, output, in, status)) return status;
  // The sound is rendered as the records arrive; from a file their length
  // is known first, so the header is exact before the first sample.
  tone_reader reader = start_tone_reader(in.stream);
  sound_source source{reader, false, 0, [&] { return finish_reading(in, reader); }};
  source.known = units_of_file(reader, source.units);
  std::string error;
  const bool ok = to_stdout ? write_sound_stdout(source, settings, error)
                            : write_sound_file(output, format, source, settings, error);
  close_input(in);
  if (!ok && !error.empty()) {
    std::fprintf(stderr, "%s: %s: %s\n", program_name,
                 to_stdout ? "(standard output)" : quoted_name(output).c_str(), error.c_str());
  }
  return ok ? status_ok : status_failed;
}

// The longest melody text check reads: melodyc compiles any length, but a
// checker shows source lines and so holds the text.
constexpr std::size_t longest_checked_text = std::size_t{256} << 20;

int run_check(int argc, char **argv) {
  enum { opt_help = 256, opt_werror, opt_max_errors };
  static const option options[] = {{"help", no_argument, nullptr, opt_help},
                                   {"werror", no_argument, nullptr, opt_werror},
                                   {"max-errors", required_argument, nullptr, opt_max_errors},
                                   {nullptr, 0, nullptr, 0}};
  bool werror = false;
  int max_errors = 20;
  int status = status_ok;
  optind = 1;
  opterr = 0;
  for (int opt; (opt = getopt_long(argc, argv, ":", options, nullptr)) != -1;) {
    if (opt == opt_help) {
      std::fputs(check_usage, stdout);
      return status_ok;
    }
    if (opt == opt_werror) {
      werror = true;
      continue;
    }
    if (opt == opt_max_errors) {
      if (!take_whole(optarg, 0, 1000000, "error count", "a whole number, 0 for all", max_errors, status)) {
        return status;
      }
      continue;
    }
    return usage_error("check: " + option_error(argv, options, opt));
  }
  input_file in;
  if (!open_input(argc, argv, in, status)) return status;
  std::string text;
  if (!read_text(in, longest_checked_text, text)) return status_failed;
  const std::string name = in.name == "-" ? "<stdin>" : quoted_name(in.name);
  // Each finding goes out as it is found, whole (it may hold any byte), up
  // to the error limit; past it they are only counted.
  const source_lines lines(text);
  int shown_errors = 0;
  bool stopped = false;
  const check_report report = check_melody(text, lines, [&](const finding &f) {
    if (stopped) return;
    const std::string out = format_finding(f, lines, name, werror);
    std::fwrite(out.data(), 1, out.size(), stderr);
    if (f.kind == finding_kind::error || werror) ++shown_errors;
    stopped = max_errors != 0 && shown_errors >= max_errors;
  });
  const int errors = report.errors + (werror ? report.warnings : 0);
  const int warnings = werror ? 0 : report.warnings;
  if (stopped && errors + warnings > shown_errors) {
    std::fprintf(stderr, "%s: stopped after %d errors; --max-errors N shows more, 0 all\n", name.c_str(),
                 shown_errors);
  }
  if (errors + warnings > 0) std::fprintf(stderr, "%s\n", report_summary(errors, warnings).c_str());
  return errors > 0 ? status_failed : status_ok;
}

int run_command(int argc, char **argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "--help" || command == "-h") {
    std::fputs(usage_text, stdout);
    return status_ok;
  }
  if (command == "--version") {
    std::printf("%s (tamlo) %s\n", program_name, TAMLO_VERSION);
    return status_ok;
  }
  if (command == "list") return run_list(argc - 1, argv + 1);
  if (command == "wav") return run_wav(argc - 1, argv + 1);
  if (command == "check") return run_check(argc - 1, argv + 1);
  if (command == "rtttl") return run_rtttl(argc - 1, argv + 1);
  if (command == "midi") return run_midi(argc - 1, argv + 1);
  if (command == "c") return run_c(argc - 1, argv + 1);
  if (command.empty()) return usage_error("missing command: list, wav, check, rtttl, midi or c");
  return usage_error("unknown command " + quoted_value(command) + ": list, wav, check, rtttl, midi or c");
}

}  // namespace

int main(int argc, char **argv) {
  install_output_cleanup();
  return finish_standard_output(program_name, run_command(argc, argv));
}
