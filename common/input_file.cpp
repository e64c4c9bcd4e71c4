// Opening inputs, and naming them in messages, as every program does.
#include "input_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "message_text.h"
#include "diagnostics.h"

std::string input_name(const std::string &name) { return name == "-" ? standard_input_name : quoted_name(name); }

std::FILE *open_input_file(const std::string &name, const char *kind, std::string &error) {
  std::FILE *in = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
  if (in == nullptr) {
    error = with_errno("cannot open");
    return nullptr;
  }
  struct stat st {};
  if (fstat(fileno(in), &st) == 0 && S_ISDIR(st.st_mode)) {
    error = std::string("is a directory, not ") + kind;
    close_input_file(in);
    return nullptr;
  }
  return in;
}

void close_input_file(std::FILE *in) {
  if (in != nullptr && in != stdin) std::fclose(in);
}
