// tonetool check: every error and suspicious construct of a melody text.
#include "commands.h"

#include <cstddef>
#include <string>

#include "command_io.h"
#include "command_options.h"
#include "diagnostics.h"
#include "melody_check.h"
#include "message_text.h"

namespace {

// The longest melody text check reads: melodyc compiles any length, but a
// checker shows source lines and so holds the text.
constexpr std::size_t longest_checked_text = std::size_t{256} << 20;

}  // namespace

int run_check(int argc, char **argv) {
  bool werror = false;
  int max_errors = 20;
  const command_form form{
      .program = program_name,
      .command = "check",
      .synopsis = "[--werror] [--max-errors N] [FILE]",
      .about = "Check a melody text (from FILE, or standard input) for every error melodyc\n"
               "would stop at and every construct it accepts but a person rarely means,\n"
               "reported as FILE:LINE:COLUMN: error: (or warning:) with the source line and\n"
               "a caret under the token, then a summary line.\n",
      .epilogue = "Exit status: 0 no errors; 1 errors (or, with --werror, warnings) or an\n"
                  "unreadable input; 2 bad command line.\n",
      .options = {flag_option("werror", "treat warnings as errors", werror),
       whole_option("max-errors", 0, "N", "stop showing findings after N errors (default 20; 0 for\nall); the summary "
                    "counts them all",
                    {0, 1000000, "error count", nullptr, "a whole number, 0 for all"}, max_errors)}};
  command_input in;
  int status = status_ok;
  if (!start_command(form, argc, argv, "", in, status)) return status;
  std::string text;
  if (!read_text(in, longest_checked_text, text)) return status_failed;
  const std::string name = input_label(in);
  if (looks_like_tone_records(text)) {
    ::report(name, "these are tone records, not a melody text: check the melody melodyc compiled them from, or read "
                   "them with tonetool list " + (in.name == "-" ? std::string("tune.tones") : in.name));
    return status_failed;
  }
  // Each finding goes out as it is found, whole (it may hold any byte), up
  // to the error limit; past it they are only counted.
  const source_lines lines(text);
  const bool colour = colour_on_standard_error();
  int shown_errors = 0;
  bool stopped = false;
  const check_report report = check_melody(text, lines, [&](const finding &f) {
    if (stopped) return;
    const std::string out = format_finding(f, lines, name, werror, colour);
    std::fwrite(out.data(), 1, out.size(), stderr);
    if (f.kind == finding_kind::error || werror) ++shown_errors;
    stopped = max_errors != 0 && shown_errors >= max_errors;
  });
  const int errors = report.errors + (werror ? report.warnings : 0);
  const int warnings = werror ? 0 : report.warnings;
  if (stopped && errors + warnings > shown_errors) {
    ::report(name, "stopped after " + std::to_string(shown_errors) + " errors; --max-errors N shows more, 0 all");
  }
  if (report.more_out_of_range > 0) {
    const int k = std::abs(report.octaves_off);
    ::report_note(name, "and " + std::to_string(report.more_out_of_range) +
                            (report.more_out_of_range == 1 ? " more note" : " more notes") + " out of range, each " +
                            std::to_string(k) + (k == 1 ? " octave " : " octaves ") +
                            (report.octaves_off > 0 ? "too high" : "too low") + " with the rest");
  }
  if (errors + warnings > 0) ::report(name, report_summary(errors, warnings));
  return errors > 0 ? status_failed : status_ok;
}
