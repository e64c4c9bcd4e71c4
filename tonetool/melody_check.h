// tonetool check: every error and every suspicious construct of a melody
// text, found with melodyc's own token reader and note rules, reported as
// compilers report them.
#pragma once

#include <cstdint>
#include <string>
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
  std::vector<finding> findings;  // in the order of the text
  int errors = 0;
  int warnings = 0;
  bool read_failed = false;
};

// Checks the whole melody text `text`.
check_report check_melody(const std::string &text);

// The report as GCC and Clang print theirs: for each finding
// "NAME:LINE:COLUMN: error: MESSAGE", the source line and a caret line.
// With `warnings_are_errors`, warnings are reported (and counted) as
// errors.
std::string format_report(const check_report &report, const std::string &text,
                          const std::string &name, bool warnings_are_errors);

// "N errors, M warnings" (singular where it is one).
std::string report_summary(int errors, int warnings);
