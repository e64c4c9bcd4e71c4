// tonetool check: every error and every suspicious construct of a melody
// text, found with melodyc's own token reader and note rules, reported as
// compilers report them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum class finding_kind { error, warning };

struct finding {
  finding_kind kind;
  std::int64_t line;    // 1-based, where the token (or the part) begins
  std::int64_t column;  // 1-based byte column
  int length;           // bytes the caret line marks (at least 1)
  std::string message;
  // For errors: the line melodyc would print for it, so that the two can
  // be compared; empty for warnings.
  std::string melodyc_message;
};

struct check_report {
  std::vector<finding> findings;  // in the order of the text, when kept
  int errors = 0;
  int warnings = 0;
  // A tune written in octaves the format does not use (musicians' C4 for
  // melodyc's C1): its notes out of range after the first, which is the
  // one reported, with the shift that brings every note in.
  int more_out_of_range = 0;
  int octaves_off = 0;  // positive: above the range
};

// A melody text split into lines once, so that any line is found at once
// however long the text and its lines are.
struct source_lines {
  const std::string &text;
  std::vector<std::size_t> starts;  // offset of each line, from line 1
  std::vector<std::size_t> ends;    // its end, before the newline (and a carriage return)

  explicit source_lines(const std::string &t);
  // Line `line`; empty past the end.
  std::string_view line(std::int64_t line) const;
};

// Checks the whole melody text `text`, handing each finding to `sink` in
// the order of the text (so that a report can go out as it is made); the
// report counts them all and keeps none.
using finding_sink = std::function<void(const finding &)>;
check_report check_melody(const std::string &text, const source_lines &lines, const finding_sink &sink);

// One finding as GCC and Clang print theirs: "NAME:LINE:COLUMN: error:
// MESSAGE", the source line and a caret line under the token. A line
// longer than a screen shows a window around the caret, with "..." where
// it is cut; bytes that are not text (control bytes, a byte of no UTF-8
// character) show as \xNN, so that every finding prints whole on its own
// lines. With `warnings_are_errors`, a warning is reported as an error;
// with `colour`, the place is bold, "error:" red, "warning:" magenta and
// the caret green, as GCC colours them on a terminal.
std::string format_finding(const finding &f, const source_lines &lines, const std::string &name,
                           bool warnings_are_errors, bool colour = false);

// `text` with every byte that is not text shown as \xNN (see
// format_finding).
std::string visible_text(std::string_view text);

// "N errors, M warnings" (singular where it is one).
std::string report_summary(int errors, int warnings);
