// tonetool midi: the records as a standard MIDI file.
#include "commands.h"

#include <unistd.h>

#include <cstddef>
#include <string>

#include "command_io.h"
#include "command_options.h"
#include "exporters/midi_file.h"
#include "tone_records.h"

namespace {

// Records beyond any tune, which an endless input such as /dev/zero would
// otherwise pile up in memory: 24 days at 1 unit of 125 ms a record.
constexpr std::size_t longest_midi = std::size_t{1} << 24;

}  // namespace

int run_midi(int argc, char **argv) {
  midi_settings settings;
  std::string output;
  const command_form form{
      .program = program_name,
      .command = "midi",
      .synopsis = "[--unit-ms MS] [--beat UNITS] [-o OUT] [FILE]",
      .about = "Write the tone records melodyc writes (from FILE, or standard input) as a\n"
               "standard MIDI file: format 0, one track with a tempo event, each tone a\n"
               "note of the MIDI number nearest its frequency (exact for every note\n"
               "melodyc writes; A1 is 69), played by General MIDI's square lead, each\n"
               "pause a rest. A record of 0 units sounds for no time and is left out.\n",
      .epilogue = "Exit status: 0 written; 1 unreadable input, a partial record, a stream too\n"
                  "long for MIDI or an output error (nothing is written); 2 bad command line.\n",
      .options = {output_option(output, "the MIDI file, written whole or not at all; - or none\nwrites to standard output (not a "
                             "terminal)"),
       unit_option(settings.unit_ms),
       whole_option("beat", 0, "UNITS", "units in a quarter note, 1 to 255, for the note values\neditors show (default: "
                    "the duration most records\nhave, shortened to what MIDI holds)",
                    {1, 255, "beat", "whole units"}, settings.beat_units)}};
  command_input in;
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
    report(input_label(in), midi.error);
    return status_failed;
  }
  return write_whole_output(output, midi.bytes) ? status_ok : status_failed;
}
