// The programs' one voice on standard error, and the words for the
// system's reasons.
#include "diagnostics.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>

namespace {

const char *program = "";

void write_to_stderr(const std::string &line) {
  // Standard error is unbuffered: one call, one write.
  std::fwrite(line.data(), 1, line.size(), stderr);
}

line_writer writer = write_to_stderr;

}  // namespace

void set_program_name(const char *name) { program = name; }

void set_line_writer(line_writer w) { writer = w != nullptr ? w : write_to_stderr; }

void report(const std::string &subject, const std::string &text) {
  writer(std::string(program) + ": " + subject + ": " + text + "\n");
}

void report_warning(const std::string &subject, const std::string &text) { report(subject, "warning: " + text); }

void report_note(const std::string &subject, const std::string &text) { report(subject, "note: " + text); }

void report_finding(const std::string &file, long long line, long long column, bool error, const std::string &text) {
  writer(file + ":" + std::to_string(line) + ":" + std::to_string(column) + (error ? ": error: " : ": warning: ") +
         text + "\n");
}

void report_without_memory(const std::string &subject, const char *text) noexcept {
  char separator[] = ": ", end[] = "\n";
  iovec parts[] = {{const_cast<char *>(program), std::strlen(program)},
                   {separator, 2},
                   {const_cast<char *>(subject.data()), subject.size()},
                   {separator, 2},
                   {const_cast<char *>(text), std::strlen(text)},
                   {end, 1}};
  [[maybe_unused]] const ssize_t written = writev(STDERR_FILENO, parts, 6);
}

void say_plain_line(const std::string &line) { writer(line + "\n"); }

std::string with_errno(const std::string &what, int error_number) { return what + ": " + std::strerror(error_number); }

std::string with_errno(const std::string &what) { return with_errno(what, errno); }

std::string write_error_text(int error_number) { return with_errno("write error", error_number); }

std::string write_error_text() { return write_error_text(errno); }

std::string read_error_text() { return read_error_text(errno); }

std::string read_error_text(int error_number) { return with_errno("read error", error_number); }

bool colour_on_standard_error() {
  const char *no_colour = std::getenv("NO_COLOR");
  const char *term = std::getenv("TERM");
  return isatty(STDERR_FILENO) != 0 && (no_colour == nullptr || *no_colour == '\0') &&
         (term == nullptr || std::strcmp(term, "dumb") != 0);
}
