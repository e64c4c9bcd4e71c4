// tonetool from-midi: the melody of a standard MIDI file as a melody text.
#include "commands.h"

#include <string>

#include "command_io.h"
#include "command_options.h"
#include "diagnostics.h"
#include "importers/from_midi.h"
#include "importers/midi_reader.h"
#include "message_text.h"

int run_from_midi(int argc, char **argv) {
  from_midi_options settings;
  std::string output;
  bool list = false;
  const command_form form{
      .program = program_name,
      .command = "from-midi",
      .synopsis = "[--list] [--track N] [--channel N] [--strict] [--unit-ms MS] [--transpose N] [-o OUT] [FILE]",
      .about = "Turn the melody of a standard MIDI file (format 0, 1 or 2; from FILE, or\n"
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
      .epilogue = "Exit status: 0 converted (or listed); 1 a file that is not MIDI, is\n"
                  "damaged, holds no notes, or (with --strict) a melody the unit or the\n"
                  "range cannot keep (nothing is written); 2 bad command line.\n",
      .options = {flag_option("list", "list each track and channel with its notes, range and\nname, and write nothing", list),
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
  command_input in;
  int status = status_ok;
  if (!start_command(form, argc, argv, output, in, status)) return status;
  const std::string name = input_label(in);
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
