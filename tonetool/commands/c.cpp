// tonetool c: the records as C source for firmware.
#include "commands.h"

#include <cstddef>
#include <string>

#include "command_io.h"
#include "command_options.h"
#include "exporters/c_source.h"
#include "message_text.h"
#include "tone_records.h"

namespace {

// Records beyond any tune, which an endless input such as /dev/zero would
// otherwise pile up in memory: 3 MiB of array.
constexpr std::size_t longest_c_array = std::size_t{1} << 20;

}  // namespace

int run_c(int argc, char **argv) {
  std::string output, name;
  const command_form form{
      .program = program_name,
      .command = "c",
      .synopsis = "[--name NAME] [-o OUT] [FILE]",
      .about = "Write the tone records melodyc writes (from FILE, or standard input) as C\n"
               "source: const unsigned char NAME[] with three bytes a record and a comment\n"
               "naming each record's note and duration, then NAME_length (its bytes) and\n"
               "NAME_records.\n",
      .epilogue = "Exit status: 0 written; 1 unreadable input, a partial record, a stream too\n"
                  "long for an array or an output error (nothing is written); 2 bad command\n"
                  "line or a name that cannot be used.\n",
      .options = {{"name", 0, "NAME", "the array's name, a C identifier that no C library or\nPOSIX name takes (default: FILE's "
                           "name up to its\nfirst dot, '-' and ' ' as '_'; melody for standard\ninput)",
        [&name](const std::string &v) {
          const std::string problem = c_name_problem(v);
          if (!problem.empty()) return "invalid name " + quoted_value(v) + " (" + problem + ")";
          name = v;
          return std::string();
        }},
       output_option(output, "the source file, written whole or not at all\n(default: standard output)")}};
  command_input in;
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
