// tonetool list: one line per record, as the records arrive.
#include "commands.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "command_io.h"
#include "command_options.h"
#include "diagnostics.h"
#include "message_text.h"
#include "note_lookup.h"
#include "program_output.h"
#include "sound/render.h"
#include "tone_records.h"

int run_list(int argc, char **argv) {
  double unit_ms = render_settings{}.unit_ms;
  std::string output;
  const command_form form{
      .program = program_name,
      .command = "list",
      .synopsis = "[--unit-ms MS] [-o OUT] [FILE]",
      .about = "List the tone records melodyc writes (from FILE, or standard input), one\n"
               "line per record after a header: index, start time in seconds, period,\n"
               "frequency, the note melodyc compiles to that period (P for a pause; for\n"
               "a period no playable note has, the nearest note and how far off it is,\n"
               "as ~A#4 +12 cents) and the duration in units. Records are listed as they\n"
               "arrive.\n",
      .epilogue = "Exit status: 0 listed; 1 unreadable input, a partial record or an output\n"
                  "error; 2 bad command line.\n",
      .options = {unit_option(unit_ms, ", for the start times"),
       output_option(output, "the listing's file, written whole or not at all\n(default: standard output, line by line)")}};
  command_input in;
  int status = status_ok;
  if (!start_command(form, argc, argv, output, in, status)) return status;
  program_output listing;
  std::string error;
  if (!open_program_output(listing, output, error)) {
    close_input(in);
    report(output_label(listing), error);
    return status_failed;
  }
  std::FILE *out = listing.stream;
  const auto write_failed = [&] {
    const std::string failure = write_error_text();
    close_input(in);
    discard_program_output(listing);
    report(output_label(listing), failure);
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
    discard_program_output(listing);
    return status_failed;
  }
  head();
  if (std::fflush(out) != 0) return write_failed();
  if (!commit_program_output(listing, error)) {
    report(output_label(listing), error);
    return status_failed;
  }
  return status_ok;
}
