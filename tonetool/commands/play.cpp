// tonetool play: the records rendered on a sound device through ALSA.
#include "commands.h"

#ifdef TONETOOL_PLAY
#include <unistd.h>

#include <string>

#include "command_io.h"
#include "command_options.h"
#include "diagnostics.h"
#include "message_text.h"
#include "output_file.h"
#include "sound/render.h"
#include "sound/sound_device.h"
#include "sound_options.h"
#include "tone_records.h"

int run_play(int argc, char **argv) {
  render_settings settings;
  std::string device = "default";
  command_form form{
      .program = program_name,
      .command = "play",
      .synopsis = "[--device NAME] [--unit-ms MS] [--rate HZ] [--volume V] [FILE]",
      .about = "Play the tone records melodyc writes (from FILE, or standard input) on a\n"
               "sound device through ALSA (PipeWire and PulseAudio too, behind ALSA's\n"
               "default), rendered as wav renders them and played as they arrive, so a\n"
               "pipe plays at once. Ctrl-C stops it at once.\n",
      .epilogue = "Exit status: 0 played; 1 unreadable input, a partial record or a device\n"
                  "that does not open or fails; 2 bad command line.\n",
      .options = {{"device", 'D', "NAME", "the ALSA device, as aplay -D takes it (default\n\"default\")",
        take_name("--device", "device", device)}}};
  for (option_entry &o : rendering_options(settings)) form.options.push_back(std::move(o));
  command_input in;
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
  if (!start_sound_input(in, reader, "play")) return status_failed;
  sound_source source{reader, false, 0, [&] { return finish_reading(in, reader, "play"); }};
  std::string error;
  const bool ok = play_sound(device, source, settings, error);
  close_input(in);
  if (!ok && !error.empty()) report(quoted_name(device), error);
  return ok ? status_ok : status_failed;
}
#endif
