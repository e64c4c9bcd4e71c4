#include "convert_commands.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "command_io.h"
#include "command_options.h"
#include "exporters/c_source.h"
#include "exporters/midi_file.h"
#include "importers/from_midi.h"
#include "importers/midi_reader.h"
#include "importers/ringtone_collection.h"
#include "importers/rtttl.h"
#include "message_text.h"
#include "output_file.h"

namespace {


// The longest ringtone read: far beyond any real one.
constexpr std::size_t longest_ringtone = 1 << 20;
constexpr std::size_t shown_messages = 20;
// Records beyond any tune, which an endless input such as /dev/zero would
// otherwise pile up in memory: 24 days at 1 unit of 125 ms a record for
// MIDI, 3 MiB of array for C.
constexpr std::size_t longest_midi = std::size_t{1} << 24;
constexpr std::size_t longest_c_array = std::size_t{1} << 20;

// --approximate: the nearest tune, which is what both importers write
// unless --strict; kept so that scripts that give it go on working.
option_entry approximate_option() {
  return hidden_option("approximate", nullptr, [](const std::string &) { return std::string(); });
}

}  // namespace

namespace {

// Shows a conversion's messages, their lines counted from `first_line`
// of the file; the first ones, then a count.
void show_messages(const std::string &name, const rtttl_conversion &result, std::int64_t first_line) {
  for (std::size_t i = 0; i < result.messages.size() && i < shown_messages; ++i) {
    const rtttl_message &m = result.messages[i];
    report_finding(name, m.line + first_line - 1, m.column, m.error, m.text);
  }
  const auto messages = static_cast<std::size_t>(result.errors + result.warnings);
  if (messages > shown_messages) {
    report(name, std::to_string(messages - shown_messages) + " more messages not shown; fix the first ones and run again");
  }
}

// "3: Ode, 15 notes, 7.5 s at b=120", or where the ringtone is damaged.
std::string listing_line(std::size_t index, const ringtone_entry &entry, const rtttl_conversion &r) {
  std::string line = std::to_string(index + 1) + ": " + (r.name.empty() ? "(no name)" : quoted_value(r.name)) + ", ";
  if (r.errors > 0) return line + "damaged (line " + std::to_string(entry.first_line) + ")";
  return line + std::to_string(r.notes) + (r.notes == 1 ? " note, " : " notes, ") + fixed(r.seconds, 1) + " s at b=" +
         std::to_string(r.beats);
}

}  // namespace

int run_rtttl(int argc, char **argv) {
  rtttl_options settings;
  std::string output, directory, wanted_name;
  bool list = false;
  int index = 0;
  const command_form form{
      program_name, "rtttl", "[--strict] [--unit-ms MS] [--transpose N] [--list | --index N | --name NAME | -d DIR] [-o OUT] [FILE]",
      "Turn an RTTTL ringtone (NAME:d=4,o=6,b=63:16e6,8p,4c#.7,...; from FILE, or\n"
      "standard input) into a melody text for melodyc: a comment with its name,\n"
      "the tempo, then one note token per ringtone note. Ringtone octave 4 holds\n"
      "A = 440 Hz, melodyc's A1; '_' is read as a sharp. Notes that melodyc\n"
      "cannot play move by whole octaves, the whole tune together, when one\n"
      "shift fits them all; else the shift that fits the most, and the notes\n"
      "still outside move by octaves into range (--strict refuses). The tempo\n"
      "stays, or changes (by 10%, or up to 30% where it must) to hold the tune's\n"
      "grid in whole units; each note starts on the unit nearest its start, and\n"
      "one too short for a unit joins its neighbours. The nearest tune is\n"
      "written; a last line tells the tempo, the largest rhythm error and a\n"
      "--unit-ms that keeps every note (--strict refuses the tune instead).\n"
      "A collection, one ringtone a line, is listed, or one of it converted,\n"
      "or each into a folder.\n",
      "Exit status: 0 converted; 1 a malformed ringtone (with -d: any), a tune\n"
      "(with --strict) that the range or the unit cannot keep, a collection\n"
      "without --list, --index, --name or -d, or an unreadable input (nothing\n"
      "is written for it); 2 bad command line.\n",
      {output_option(output, "the melody file, written whole or not at all\n(default: standard output)"),
       unit_option(settings.unit_ms, "; play the melody at the\nsame unit"),
       transpose_option(settings.transpose_given, settings.transpose),
       flag_option("strict", "refuse a tune whose rhythm the unit cannot keep, or\nthat no octave shift fits, instead of rounding\nor folding notes",
                   settings.strict),
       flag_option("list", "list the ringtones of the file: index, name, notes,\nlength and tempo; write nothing", list),
       whole_option("index", 0, "N", "convert the Nth ringtone of a collection (1 for the\nfirst)", {1, 1000000, "index"},
                    index),
       {"name", 0, "NAME", "convert the ringtone of that name", take_name("--name", "ringtone", wanted_name)},
       {"directory", 'd', "DIR", "convert every ringtone into DIR/NAME.mel (a name that\nis empty, repeated or unsafe "
                                 "gets its index)",
        take_name("-d", "folder", directory)},
       approximate_option()}};
  input_file in;
  int status = status_ok;
  if (!start_command(form, argc, argv, output, in, status, [&] {
        const int chosen = (list ? 1 : 0) + (index > 0 ? 1 : 0) + (!wanted_name.empty() ? 1 : 0) + (!directory.empty() ? 1 : 0);
        if (chosen > 1) return std::string("--list, --index, --name and -d cannot be used together");
        if (!directory.empty() && !output.empty()) return std::string("-o and -d cannot be used together");
        return std::string();
      })) {
    return status;
  }
  std::string text;
  if (!read_text(in, longest_ringtone, text)) return status_failed;
  const std::string name = display(in);
  const std::vector<ringtone_entry> entries = split_ringtones(text);
  const auto convert = [&](const ringtone_entry &e) {
    return convert_rtttl(std::string_view(text).substr(e.begin, e.end - e.begin), settings);
  };
  if (list) {
    std::string listing;
    for (std::size_t i = 0; i < entries.size(); ++i) listing += listing_line(i, entries[i], convert(entries[i])) + "\n";
    return write_whole_output("-", listing) ? status_ok : status_failed;
  }
  if (!directory.empty()) {
    std::vector<rtttl_conversion> results;
    std::vector<std::string> names;
    for (const ringtone_entry &e : entries) {
      results.push_back(convert(e));
      names.push_back(results.back().name);
    }
    const std::vector<std::string> files = ringtone_file_names(names);
    if (!make_output_folder(directory)) return status_failed;
    // A damaged ringtone's errors are shown and it is skipped; warnings
    // are counted, each tune's own with --index.
    std::size_t written = 0, warned = 0, failed = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      rtttl_conversion &r = results[i];
      if (r.errors > 0) {
        r.messages.erase(std::remove_if(r.messages.begin(), r.messages.end(), [](const rtttl_message &m) { return !m.error; }),
                         r.messages.end());
        r.warnings = 0;
        show_messages(name, r, entries[i].first_line);
      }
      const bool ok = r.errors == 0 &&
                      write_whole_output(directory + (directory.back() == '/' ? "" : "/") + files[i], r.melody);
      ++(ok ? written : failed);
      warned += ok && r.warnings > 0;
    }
    report_note(name, std::to_string(written) + " written" +
                          (warned > 0 ? " (" + std::to_string(warned) + " with warnings, which --index N shows)" : "") +
                          (failed > 0 ? ", " + std::to_string(failed) + " failed" : ""));
    return failed > 0 ? status_failed : status_ok;
  }
  std::size_t chosen = 0;
  if (index > 0) {
    if (static_cast<std::size_t>(index) > entries.size()) {
      report(name, "--index " + std::to_string(index) + ": the file holds " + std::to_string(entries.size()) +
                       (entries.size() == 1 ? " ringtone" : " ringtones") + "; --list shows them");
      return status_failed;
    }
    chosen = static_cast<std::size_t>(index - 1);
  } else if (!wanted_name.empty()) {
    chosen = entries.size();
    for (std::size_t i = 0; i < entries.size() && chosen == entries.size(); ++i) {
      if (convert(entries[i]).name == wanted_name) chosen = i;
    }
    if (chosen == entries.size()) {
      report(name, "no ringtone is named " + quoted_value(wanted_name) + "; --list shows their names");
      return status_failed;
    }
  } else if (entries.size() > 1) {
    report(name, "the file holds " + std::to_string(entries.size()) +
                     " ringtones: --list shows them, --index N or --name NAME converts one, -d DIR converts each");
    return status_failed;
  }
  const rtttl_conversion result = convert(entries[chosen]);
  show_messages(name, result, entries[chosen].first_line);
  if (result.errors > 0) return status_failed;
  if (!write_whole_output(output, result.melody)) return status_failed;
  if (!result.summary.empty()) report_note(name, result.summary);
  return status_ok;
}

int run_midi(int argc, char **argv) {
  midi_settings settings;
  std::string output;
  const command_form form{
      program_name, "midi", "[--unit-ms MS] [--beat UNITS] [-o OUT] [FILE]",
      "Write the tone records melodyc writes (from FILE, or standard input) as a\n"
      "standard MIDI file: format 0, one track with a tempo event, each tone a\n"
      "note of the MIDI number nearest its frequency (exact for every note\n"
      "melodyc writes; A1 is 69), played by General MIDI's square lead, each\n"
      "pause a rest. A record of 0 units sounds for no time and is left out.\n",
      "Exit status: 0 written; 1 unreadable input, a partial record, a stream too\n"
      "long for MIDI or an output error (nothing is written); 2 bad command line.\n",
      {output_option(output, "the MIDI file, written whole or not at all; - or none\nwrites to standard output (not a "
                             "terminal)"),
       unit_option(settings.unit_ms),
       whole_option("beat", 0, "UNITS", "units in a quarter note, 1 to 255, for the note values\neditors show (default: "
                    "the duration most records\nhave, shortened to what MIDI holds)",
                    {1, 255, "beat", "whole units"}, settings.beat_units)}};
  input_file in;
  int status = status_ok;
  if (!start_command(form, argc, argv, output, in, status, [&] {
        const bool terminal = (output.empty() || output == "-") && isatty(STDOUT_FILENO);
        return std::string(terminal ? "not writing MIDI to a terminal; use -o OUT or a redirect" : "");
      })) {
    return status;
  }
  tone_stream stream;
  if (!read_input(in, stream, longest_midi, "a MIDI file")) return status_failed;
  const midi_result midi = make_midi(stream.tones, settings);
  if (!midi.ok) {
    report(display(in), midi.error);
    return status_failed;
  }
  return write_whole_output(output, midi.bytes) ? status_ok : status_failed;
}

int run_c(int argc, char **argv) {
  std::string output, name;
  const command_form form{
      program_name, "c", "[--name NAME] [-o OUT] [FILE]",
      "Write the tone records melodyc writes (from FILE, or standard input) as C\n"
      "source: const unsigned char NAME[] with three bytes a record and a comment\n"
      "naming each record's note and duration, then NAME_length (its bytes) and\n"
      "NAME_records.\n",
      "Exit status: 0 written; 1 unreadable input, a partial record, a stream too\n"
      "long for an array or an output error (nothing is written); 2 bad command\n"
      "line or a name that cannot be used.\n",
      {{"name", 0, "NAME", "the array's name, a C identifier that no C library or\nPOSIX name takes (default: FILE's "
                           "name up to its\nfirst dot, '-' and ' ' as '_'; melody for standard\ninput)",
        [&name](const std::string &v) {
          const std::string problem = c_name_problem(v);
          if (!problem.empty()) return "invalid name " + quoted_value(v) + " (" + problem + ")";
          name = v;
          return std::string();
        }},
       output_option(output, "the source file, written whole or not at all\n(default: standard output)")}};
  input_file in;
  int status = status_ok;
  if (!start_command(form, argc, argv, output, in, status)) return status;
  if (name.empty()) name = in.name == "-" ? "melody" : c_name_for_file(in.name);
  if (name.empty()) {
    close_input(in);
    return usage_error(form, "no C name comes of " + quoted_value(in.name) + "; give one with --name");
  }
  if (const std::string problem = c_name_problem(name); !problem.empty()) {
    close_input(in);
    return usage_error(form, "the array name " + quoted_value(name) + " that " + quoted_value(in.name) +
                                 " gives cannot be used (" + problem + "); give one with --name");
  }
  tone_stream stream;
  if (!read_input(in, stream, longest_c_array, "a C array in firmware")) return status_failed;
  // The file name goes into a comment, which "*/" would end.
  std::string source = in.name == "-" ? "standard input" : quoted_value(in.name);
  for (std::size_t at; (at = source.find("*/")) != std::string::npos;) source.insert(at + 1, " ");
  return write_whole_output(output, c_source(stream.tones, name, source)) ? status_ok : status_failed;
}

int run_from_midi(int argc, char **argv) {
  from_midi_options settings;
  std::string output;
  bool list = false;
  const command_form form{
      program_name, "from-midi",
      "[--list] [--track N] [--channel N] [--strict] [--unit-ms MS] [--transpose N] [-o OUT] [FILE]",
      "Turn the melody of a standard MIDI file (format 0, 1 or 2; from FILE, or\n"
      "standard input) into a melody text for melodyc. The melody is the part a\n"
      "listener follows: the channel, across tracks, never percussion, that\n"
      "plays one note at a time, most notes, in a singing register, by steps,\n"
      "often on top (--list shows each one's score); in a part of several\n"
      "voices, such as a piano, the voice that moves like a melody. In format 2\n"
      "it comes from the first sequence with notes. Times snap to the grid the\n"
      "file is sequenced on; a note ends where the next begins, a gap is a\n"
      "pause. Pitches move by whole octaves to fit melodyc's range. Lengths are\n"
      "timed as rtttl times them, and a played file keeps its tempo; the\n"
      "summary names the largest rhythm error and a --unit-ms that keeps every\n"
      "note. A note longer than 255 units becomes several records of its pitch.\n",
      "Exit status: 0 converted (or listed); 1 a file that is not MIDI, is\n"
      "damaged, holds no notes, or (with --strict) a melody the unit or the\n"
      "range cannot keep (nothing is written); 2 bad command line.\n",
      {flag_option("list", "list each track and channel with its notes, range and\nname, and write nothing", list),
       whole_option("track", 0, "N", "take the melody from track N only (1 for the first)", {1, 65535, "track"},
                    settings.track),
       whole_option("channel", 0, "N", "take the melody from channel N, 1 to 16 (10 is\npercussion, never a melody)",
                    {1, 16, "channel"}, settings.channel),
       output_option(output, "the melody file, written whole or not at all\n(default: standard output)"),
       unit_option(settings.unit_ms, "; play the melody at the\nsame unit"),
       transpose_option(settings.transpose_given, settings.transpose),
       flag_option("strict", "refuse a tune whose rhythm the unit cannot keep, or\nthat no octave shift fits, instead of rounding\nor folding notes",
                   settings.strict),
       approximate_option()}};
  input_file in;
  int status = status_ok;
  if (!start_command(form, argc, argv, output, in, status)) return status;
  const std::string name = display(in);
  std::string bytes;
  if (!read_text(in, longest_midi_file, bytes)) return status_failed;
  midi_song song;
  std::string error;
  if (!read_midi(bytes, song, error)) {
    report(name, error);
    return status_failed;
  }
  for (const std::string &w : song.warnings) report_warning(name, w);
  if (list) return write_whole_output("-", midi_listing(song)) ? status_ok : status_failed;
  const std::string source = in.name == "-" ? "standard input" : quoted_value(in.name);
  const from_midi_result result = melody_from_midi(song, source, settings);
  for (const std::string &w : result.warnings) report_warning(name, w);
  if (!result.error.empty()) {
    report(name, result.error);
    return status_failed;
  }
  if (!write_whole_output(output, result.melody)) return status_failed;
  report_note(name, result.summary);
  return status_ok;
}
