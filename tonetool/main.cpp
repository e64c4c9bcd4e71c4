// tonetool: lists a tone record stream as text, renders it as sound,
// checks melody texts and converts ringtones, MIDI files and C arrays.
// Each command is one entry of the table below.
#include <cstdio>
#include <string>

#include "command_io.h"
#include "command_options.h"
#include "commands/commands.h"
#include "message_text.h"
#include "output_file.h"
#include "standard_output.h"

namespace {

struct subcommand {
  const char *group;    // the heading it is listed under in tonetool --help
  const char *name;
  const char *summary;  // one line for tonetool --help
  int (*run)(int argc, char **argv);
};

const char records_back[] = "Tone records back", melody_texts[] = "Melody texts",
           records_out[] = "Tone records to other formats";
const subcommand subcommands[] = {
    {.group = records_back, .name = "list", .summary = "one line per record: index, start, period, frequency, note, units", .run = run_list},
    {.group = records_back, .name = "wav", .summary = "render as sound (WAV, FLAC, AIFF, AU or CAF)", .run = run_wav},
#ifdef TONETOOL_PLAY
    {.group = records_back, .name = "play", .summary = "play on a sound device (ALSA, PipeWire, PulseAudio)", .run = run_play},
#endif
    {.group = melody_texts, .name = "check", .summary = "every error and suspicious construct of a melody text", .run = run_check},
    {.group = melody_texts, .name = "rtttl", .summary = "an RTTTL ringtone as a melody text", .run = run_rtttl},
    {.group = melody_texts, .name = "from-midi", .summary = "the melody of a standard MIDI file as a melody text", .run = run_from_midi},
    {.group = records_out, .name = "midi", .summary = "the records as a standard MIDI file", .run = run_midi},
    {.group = records_out, .name = "c", .summary = "the records as C source for firmware", .run = run_c},
};

std::string command_names() {
  std::string names;
  const std::size_t count = sizeof subcommands / sizeof subcommands[0];
  for (std::size_t i = 0; i < count; ++i) {
    names += i == 0 ? "" : i + 1 == count ? " or " : ", ";
    names += subcommands[i].name;
  }
  return names;
}

std::string usage_text() {
  std::string text =
      "Usage: tonetool COMMAND [OPTION]... [FILE]\n"
      "Read back the tone records melodyc writes (from FILE, or standard input),\n"
      "or check or make a melody text.\n\n";
  const char *group = nullptr;
  for (const subcommand &c : subcommands) {
    if (c.group != group) text += std::string(group != nullptr ? "\n" : "") + c.group + ":\n";
    group = c.group;
    text += "  " + std::string(c.name) + std::string(11 - std::string(c.name).size(), ' ') + c.summary + "\n";
  }
#ifndef TONETOOL_PLAY
  text += "  (play is left out: this tonetool was built without ALSA's library)\n";
#endif
  text +=
      "\nInformation:\n"
      "  -h, --help, --version\n"
      "'tonetool COMMAND --help' or 'tonetool help COMMAND' tells more of each command.\n"
      "\n"
      "Exit status: 0 success; 1 unreadable input, a partial record, a value\n"
      "that cannot work for this input or an output error; 2 bad command line.\n";
  return text;
}

int run_command(int argc, char **argv) {
  const command_form top{program_name, nullptr, "COMMAND [OPTION]... [FILE]", "", "", {}, true};
  const std::string command = argc > 1 ? argv[1] : "";
  // The program's own options, before any command.
  if (!command.empty() && command[0] == '-') {
    const parsed_command parsed = parse_command(top, 2, argv);
    switch (parsed.outcome) {
      case command_outcome::help:
        std::fputs(usage_text().c_str(), stdout);
        return status_ok;
      case command_outcome::version:
        std::printf("%s (tamlo) %s\n", program_name, TAMLO_VERSION);
        return status_ok;
      case command_outcome::usage_error:
        return usage_error(top, parsed.error);
      case command_outcome::run:
        break;
    }
  }
  if (command == "help") {
    // `tonetool help CMD` is `tonetool CMD --help`.
    if (argc < 3) {
      std::fputs(usage_text().c_str(), stdout);
      return status_ok;
    }
    for (const subcommand &c : subcommands) {
      if (c.name != std::string(argv[2])) continue;
      char help[] = "--help";
      char *words[] = {argv[2], help, nullptr};
      return c.run(2, words);
    }
    return usage_error(top, "no command " + quoted_value(argv[2]) + " to help with: " + command_names());
  }
  for (const subcommand &c : subcommands) {
    if (command == c.name) return c.run(argc - 1, argv + 1);
  }
  if (command.empty()) return usage_error(top, "missing command: " + command_names());
  return usage_error(top, "unknown command " + quoted_value(command) + ": " + command_names());
}

}  // namespace

int main(int argc, char **argv) {
  set_program_name(program_name);
  hold_closed_standard_descriptors();
  install_output_cleanup();
  return finish_standard_output(run_command(argc, argv));
}
