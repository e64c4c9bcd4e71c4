// Every program's one voice on standard error: "PROGRAM: SUBJECT: TEXT",
// one line, in one write (so that lines of different threads never mix),
// with "warning: " or "note: " before the text where it is one; findings
// in a text take the compiler's "FILE:LINE:COLUMN: error: TEXT" instead.
// Subjects are names as messages show them: quoted_name, input_name, or
// the names of the standard streams below.
#pragma once

#include <string>

inline constexpr char standard_input_name[] = "(standard input)";
inline constexpr char standard_output_name[] = "(standard output)";

// The program whose name opens every line; set once, first in main.
void set_program_name(const char *name);

// Where whole lines go: standard error by default; a program that keeps a
// line of its own on the terminal (jpeg2pnm's progress) passes its writer.
using line_writer = void (*)(const std::string &line);
void set_line_writer(line_writer writer);

void report(const std::string &subject, const std::string &text);
void report_warning(const std::string &subject, const std::string &text);
void report_note(const std::string &subject, const std::string &text);
void report_finding(const std::string &file, long long line, long long column, bool error, const std::string &text);

// report(), for when memory has run out: the line is written in one
// writev without allocating, with the subject as given. Never throws.
void report_without_memory(const std::string &subject, const char *text) noexcept;

// A line as it stands, without the program's name (a usage error's hint).
void say_plain_line(const std::string &line);

// The system's reasons, as err(3) and warn(3) give them: the only place
// that turns an errno into words. The calls without a number take errno
// as it stands, so that callers need not save it.
// "WHAT: REASON".
std::string with_errno(const std::string &what);
std::string with_errno(const std::string &what, int error_number);
// "write error: REASON" and "read error: REASON".
std::string write_error_text();
std::string write_error_text(int error_number);
std::string read_error_text();
std::string read_error_text(int error_number);

// Whether findings on standard error may be coloured as compilers colour
// them: it is a terminal, TERM is not "dumb", and NO_COLOR is unset or
// empty.
bool colour_on_standard_error();
