#include "convert_commands.h"

#include <getopt.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "c_source.h"
#include "command_line.h"
#include "message_text.h"
#include "midi_file.h"
#include "rtttl.h"

namespace {

const char rtttl_usage[] =
    "Usage: tonetool rtttl [--approximate] [--unit-ms MS] [--transpose N] [-o OUT] [FILE]\n"
    "Turn an RTTTL ringtone (NAME:d=4,o=6,b=63:16e6,8p,4c#.7,...; from FILE, or\n"
    "standard input) into a melody text for melodyc: a comment with its name,\n"
    "the tempo, then one note token per ringtone note. Ringtone octave 4 holds\n"
    "A = 440 Hz, melodyc's A1; '_' is read as a sharp. Notes that melodyc\n"
    "cannot play move by whole octaves, the whole tune together, when one\n"
    "shift fits them all. At the unit in use the tune is written when one\n"
    "uniform change of tempo of at most 30% keeps every note within 10% of its\n"
    "length; otherwise an error names the note furthest off and a --unit-ms\n"
    "that fits every note. A last line tells the tempo change and the largest\n"
    "rhythm error the records have.\n"
    "\n"
    "  -o, --output=OUT  the melody file, written whole or not at all\n"
    "                    (default: standard output)\n"
    "  --unit-ms=MS      milliseconds per duration unit, above 0 up to 60000\n"
    "                    (default 125); play the melody at the same unit\n"
    "  --transpose=N     move every note by N semitones, -96 to 96, instead of\n"
    "                    the automatic octave shift\n"
    "  --approximate     write a tune whose rhythm the unit cannot keep anyway,\n"
    "                    each note rounded, with a warning for each note off\n"
    "\n"
    "Exit status: 0 converted; 1 a malformed ringtone, a note out of range, a\n"
    "rhythm the unit cannot keep or an unreadable input (nothing is written);\n"
    "2 bad command line.\n";

const char midi_usage[] =
    "Usage: tonetool midi [--unit-ms MS] [--beat UNITS] [-o OUT] [FILE]\n"
    "Write the tone records melodyc writes (from FILE, or standard input) as a\n"
    "standard MIDI file: format 0, one track with a tempo event, each tone a\n"
    "note of the MIDI number nearest its frequency (exact for every note\n"
    "melodyc writes; A1 is 69), played by General MIDI's square lead, each\n"
    "pause a rest. A record of 0 units sounds for no time and is left out.\n"
    "\n"
    "  -o, --output=OUT  the MIDI file, written whole or not at all; - or none\n"
    "                    writes to standard output (not a terminal)\n"
    "  --unit-ms=MS      milliseconds per duration unit, above 0 up to 60000\n"
    "                    (default 125)\n"
    "  --beat=UNITS      units in a quarter note, 1 to 255, for the note values\n"
    "                    editors show (default: the duration most records\n"
    "                    have, shortened to what MIDI holds)\n";

const char c_usage[] =
    "Usage: tonetool c [--name NAME] [-o OUT] [FILE]\n"
    "Write the tone records melodyc writes (from FILE, or standard input) as C\n"
    "source: const unsigned char NAME[] with three bytes a record and a comment\n"
    "naming each record's note and duration, then NAME_length (its bytes) and\n"
    "NAME_records.\n"
    "\n"
    "  --name=NAME       the array's name, a C identifier (default: FILE's name\n"
    "                    up to its first dot, '-' and ' ' as '_'; melody for\n"
    "                    standard input)\n"
    "  -o, --output=OUT  the source file, written whole or not at all\n"
    "                    (default: standard output)\n";

// The longest ringtone read: far beyond any real one.
constexpr std::size_t longest_ringtone = 1 << 20;
constexpr std::size_t shown_messages = 20;
// Records beyond any tune, which an endless input such as /dev/zero would
// otherwise pile up in memory: 24 days at 1 unit of 125 ms a record for
// MIDI, 3 MiB of array for C.
constexpr std::size_t longest_midi = std::size_t{1} << 24;
constexpr std::size_t longest_c_array = std::size_t{1} << 20;

}  // namespace

int run_rtttl(int argc, char **argv) {
  enum { opt_help = 256, opt_unit, opt_transpose, opt_approximate };
  static const option options[] = {{"help", no_argument, nullptr, opt_help},
                                   {"output", required_argument, nullptr, 'o'},
                                   {"unit-ms", required_argument, nullptr, opt_unit},
                                   {"transpose", required_argument, nullptr, opt_transpose},
                                   {"approximate", no_argument, nullptr, opt_approximate},
                                   {nullptr, 0, nullptr, 0}};
  rtttl_options settings;
  std::string output;
  int status = status_ok;
  optind = 1;
  opterr = 0;
  for (int opt; (opt = getopt_long(argc, argv, ":o:", options, nullptr)) != -1;) {
    const std::string value = optarg ? optarg : "";
    if (opt == opt_help) {
      std::fputs(rtttl_usage, stdout);
      return status_ok;
    } else if (opt == 'o') {
      if (!take_output("rtttl", value, output, status)) return status;
    } else if (opt == opt_unit) {
      if (!take_unit_ms(value, settings.unit_ms, status)) return status;
    } else if (opt == opt_transpose) {
      if (!take_whole(value, -96, 96, "transposition", "whole semitones, -96 to 96", settings.transpose, status)) {
        return status;
      }
      settings.transpose_given = true;
    } else if (opt == opt_approximate) {
      settings.approximate = true;
    } else {
      return usage_error("rtttl: " + option_error(argv, options, opt));
    }
  }
  input_file in;
  if (!open_input_for(argc, argv, output, in, status)) return status;
  std::string text;
  if (!read_text(in, longest_ringtone, text)) return status_failed;
  const rtttl_conversion result = convert_rtttl(text, settings);
  const std::string name = in.name == "-" ? "<stdin>" : quoted_name(in.name);
  for (std::size_t i = 0; i < result.messages.size() && i < shown_messages; ++i) {
    const rtttl_message &m = result.messages[i];
    std::fprintf(stderr, "%s:%lld:%lld: %s: %s\n", name.c_str(), static_cast<long long>(m.line),
                 static_cast<long long>(m.column), m.error ? "error" : "warning", m.text.c_str());
  }
  const auto messages = static_cast<std::size_t>(result.errors + result.warnings);
  if (messages > shown_messages) {
    std::fprintf(stderr, "%s: %zu more messages not shown; fix the first ones and run again\n",
                 name.c_str(), messages - shown_messages);
  }
  if (result.errors > 0) return status_failed;
  if (!write_whole_output(output, result.melody)) return status_failed;
  if (!result.summary.empty()) std::fprintf(stderr, "%s: note: %s\n", name.c_str(), result.summary.c_str());
  return status_ok;
}

int run_midi(int argc, char **argv) {
  enum { opt_help = 256, opt_unit, opt_beat };
  static const option options[] = {{"help", no_argument, nullptr, opt_help},
                                   {"output", required_argument, nullptr, 'o'},
                                   {"unit-ms", required_argument, nullptr, opt_unit},
                                   {"beat", required_argument, nullptr, opt_beat},
                                   {nullptr, 0, nullptr, 0}};
  midi_settings settings;
  std::string output;
  int status = status_ok;
  optind = 1;
  opterr = 0;
  for (int opt; (opt = getopt_long(argc, argv, ":o:", options, nullptr)) != -1;) {
    const std::string value = optarg ? optarg : "";
    if (opt == opt_help) {
      std::fputs(midi_usage, stdout);
      return status_ok;
    } else if (opt == 'o') {
      if (!take_output("midi", value, output, status)) return status;
    } else if (opt == opt_unit) {
      if (!take_unit_ms(value, settings.unit_ms, status)) return status;
    } else if (opt == opt_beat) {
      if (!take_whole(value, 1, 255, "beat", "whole units, 1 to 255", settings.beat_units, status)) return status;
    } else {
      return usage_error("midi: " + option_error(argv, options, opt));
    }
  }
  if ((output.empty() || output == "-") && isatty(STDOUT_FILENO)) {
    return usage_error("not writing MIDI to a terminal; use -o OUT or a redirect");
  }
  input_file in;
  if (!open_input_for(argc, argv, output, in, status)) return status;
  tone_stream stream;
  if (!read_input(in, stream, longest_midi, "a MIDI file") || report_partial(in, stream)) {
    return status_failed;
  }
  const midi_result midi = make_midi(stream.tones, settings);
  if (!midi.ok) {
    std::fprintf(stderr, "%s: %s: %s\n", program_name, display(in).c_str(), midi.error.c_str());
    return status_failed;
  }
  return write_whole_output(output, midi.bytes) ? status_ok : status_failed;
}

int run_c(int argc, char **argv) {
  enum { opt_help = 256, opt_name };
  static const option options[] = {{"help", no_argument, nullptr, opt_help},
                                   {"output", required_argument, nullptr, 'o'},
                                   {"name", required_argument, nullptr, opt_name},
                                   {nullptr, 0, nullptr, 0}};
  std::string output, name;
  int status = status_ok;
  optind = 1;
  opterr = 0;
  for (int opt; (opt = getopt_long(argc, argv, ":o:", options, nullptr)) != -1;) {
    const std::string value = optarg ? optarg : "";
    if (opt == opt_help) {
      std::fputs(c_usage, stdout);
      return status_ok;
    } else if (opt == 'o') {
      if (!take_output("c", value, output, status)) return status;
    } else if (opt == opt_name) {
      const std::string problem = c_name_problem(value);
      if (!problem.empty()) return usage_error("invalid name " + quoted_value(value) + " (" + problem + ")");
      name = value;
    } else {
      return usage_error("c: " + option_error(argv, options, opt));
    }
  }
  input_file in;
  if (!open_input_for(argc, argv, output, in, status)) return status;
  if (name.empty()) name = in.name == "-" ? "melody" : c_name_for_file(in.name);
  if (name.empty()) {
    close_input(in);
    return usage_error("no C name comes of " + quoted_value(in.name) + "; give one with --name");
  }
  if (const std::string problem = c_name_problem(name); !problem.empty()) {
    close_input(in);
    return usage_error("the array name " + quoted_value(name) + " that " + quoted_value(in.name) +
                       " gives cannot be used (" + problem + "); give one with --name");
  }
  tone_stream stream;
  if (!read_input(in, stream, longest_c_array, "a C array in firmware") || report_partial(in, stream)) {
    return status_failed;
  }
  // The file name goes into a comment, which "*/" would end.
  std::string source = in.name == "-" ? "standard input" : quoted_value(in.name);
  for (std::size_t at; (at = source.find("*/")) != std::string::npos;) source.insert(at + 1, " ");
  return write_whole_output(output, c_source(stream.tones, name, source)) ? status_ok : status_failed;
}
