// tonetool wav: the records rendered as a sound file.
#include "commands.h"

#include <unistd.h>

#include <string>

#include "command_io.h"
#include "command_options.h"
#include "diagnostics.h"
#include "message_text.h"
#include "sound/render.h"
#include "sound/sound_file.h"
#include "sound_options.h"
#include "tone_records.h"

int run_wav(int argc, char **argv) {
  render_settings settings;
  std::string output;
  command_form form{
      .program = program_name,
      .command = "wav",
      .synopsis = "[--unit-ms MS] [--rate HZ] [--volume V] [-o OUT] [FILE]",
      .about = "Render the tone records melodyc writes (from FILE, or standard input) as\n"
               "16-bit sound: each record a square wave of 1,500,000 / period Hz for\n"
               "duration x unit, a pause silence, rendered as the records arrive.\n",
      .epilogue = "Exit status: 0 written; 1 unreadable input, a partial record or an output\n"
                  "error (no file is left); 2 bad command line.\n",
      .options = {output_option(output,
                     "the sound file; its extension picks the format (.wav,\n"
                     ".flac, .aiff or .aif, .au, .caf); - or none writes WAV\n"
                     "to standard output, and so does a device or FIFO\n"
                     "without an extension. The output goes where the\n"
                     "shell's > would go (see tonetool(1)); the input file\n"
                     "itself is refused")}};
  for (option_entry &o : rendering_options(settings)) form.options.push_back(std::move(o));
  bool to_stdout = true;
  int format = 0;
  command_input in;
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
  if (!start_sound_input(in, reader, "wav")) return status_failed;
  sound_source source{reader, false, 0, [&] { return finish_reading(in, reader, "wav"); }};
  source.known = units_of_file(reader, source.units);
  std::string error;
  program_output sound;
  bool ok = sound_fits(format, source, settings, error) && open_program_output(sound, output, error) &&
            write_sound(sound, format, source, settings, error);
  if (ok) {
    ok = commit_program_output(sound, error);
  } else {
    discard_program_output(sound);
  }
  close_input(in);
  if (!ok && !error.empty()) report(to_stdout ? standard_output_name : quoted_name(output), error);
  return ok ? status_ok : status_failed;
}
