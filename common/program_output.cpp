// A program's output, file or standard output, from open to commit.
#include "program_output.h"

#include "diagnostics.h"
#include "message_text.h"

bool open_program_output(program_output &out, const std::string &path, std::string &error) {
  out.to_stdout = path.empty() || path == "-";
  out.path = out.to_stdout ? "" : path;
  if (out.to_stdout) {
    out.stream = stdout;
    return true;
  }
  if (!open_output(out.file, path, error)) return false;
  out.stream = out.file.stream;
  return true;
}

std::string output_label(const program_output &out) {
  return out.to_stdout ? standard_output_name : quoted_name(out.path);
}

bool commit_program_output(program_output &out, std::string &error) {
  if (out.to_stdout) {
    if (std::fflush(stdout) == 0) return true;
    error = write_error_text();
    return false;
  }
  return commit_output(out.file, error);
}

void discard_program_output(program_output &out) {
  if (!out.to_stdout) discard_output(out.file);
}

bool write_whole_output(const std::string &path, const std::string &content) {
  program_output out;
  std::string error;
  bool ok = open_program_output(out, path, error);
  if (ok && std::fwrite(content.data(), 1, content.size(), out.stream) != content.size()) {
    error = write_error_text();
    discard_program_output(out);
    ok = false;
  } else if (ok) {
    ok = commit_program_output(out, error);
  }
  if (!ok) report(out.to_stdout ? standard_output_name : quoted_name(path), error);
  return ok;
}
