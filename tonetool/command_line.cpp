#include "command_line.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "message_text.h"
#include "output_file.h"

int usage_error(const std::string &message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program_name,
               message.c_str(), program_name);
  return status_usage;
}

bool parse_real(const char *text, double low, double high, bool open_low, double &value) {
  errno = 0;
  char *end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0' && errno == 0 && std::isfinite(value) &&
         (open_low ? value > low : value >= low) && value <= high;
}

bool take_unit_ms(const std::string &value, double &unit_ms, int &status) {
  double number = 0;
  if (!parse_real(value.c_str(), 0, 60000, true, number)) {
    status = usage_error("invalid unit " + quoted_value(value) + " (milliseconds, above 0 up to 60000)");
    return false;
  }
  unit_ms = number;
  return true;
}

bool take_whole(const std::string &value, int low, int high, const char *what, const char *meaning,
                int &number, int &status) {
  double parsed = 0;
  if (!parse_real(value.c_str(), low, high, false, parsed) || parsed != std::floor(parsed)) {
    status = usage_error("invalid " + std::string(what) + " " + quoted_value(value) + " (" + meaning + ")");
    return false;
  }
  number = static_cast<int>(parsed);
  return true;
}

bool open_input(int argc, char **argv, input_file &in, int &status) {
  if (argc - optind > 1) {
    status = usage_error("too many inputs: one FILE at most");
    return false;
  }
  in.name = optind < argc ? argv[optind] : "-";
  in.stream = in.name == "-" ? stdin : std::fopen(in.name.c_str(), "rb");
  if (!in.stream) {
    std::fprintf(stderr, "%s: %s: cannot open: %s\n", program_name, quoted_name(in.name).c_str(),
                 std::strerror(errno));
    status = status_failed;
    return false;
  }
  struct stat st {};
  if (fstat(fileno(in.stream), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "%s: %s: is a directory, not a file\n", program_name, display(in).c_str());
    close_input(in);
    status = status_failed;
    return false;
  }
  return true;
}

void close_input(input_file &in) {
  if (in.stream && in.stream != stdin) std::fclose(in.stream);
  in.stream = nullptr;
}

std::string display(const input_file &in) {
  return in.name == "-" ? "(standard input)" : quoted_name(in.name);
}

bool read_input(input_file &in, tone_stream &stream, std::size_t max_records, const char *what) {
  stream = read_tones(in.stream, max_records);
  const int read_errno = errno;
  close_input(in);
  if (stream.too_long) {
    std::fprintf(stderr, "%s: %s: more than %zu records, too many for %s; is this the right file?\n",
                 program_name, display(in).c_str(), max_records, what);
    return false;
  }
  if (stream.read_error) {
    std::fprintf(stderr, "%s: %s: read error: %s\n", program_name, display(in).c_str(),
                 std::strerror(read_errno));
    return false;
  }
  return true;
}

namespace {

bool report_partial_record(const input_file &in, std::uint64_t records, std::size_t trailing_bytes) {
  if (trailing_bytes == 0) return false;
  std::fprintf(stderr,
               "%s: %s: stream ends inside record %llu (%zu of its 3 bytes); "
               "a tone stream is a whole number of 3-byte records\n",
               program_name, display(in).c_str(), static_cast<unsigned long long>(records), trailing_bytes);
  return true;
}

}  // namespace

bool report_partial(const input_file &in, const tone_stream &stream) {
  return report_partial_record(in, stream.tones.size(), stream.trailing_bytes);
}

bool finish_reading(input_file &in, const tone_reader &reader) {
  close_input(in);
  if (reader.read_error) {
    std::fprintf(stderr, "%s: %s: read error: %s\n", program_name, display(in).c_str(),
                 std::strerror(reader.read_errno));
    return false;
  }
  return !report_partial_record(in, reader.records, reader.carried_bytes);
}

bool read_text(input_file &in, std::size_t limit, std::string &text) {
  text.clear();
  char buffer[1 << 16];
  bool too_long = false;
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in.stream)) > 0;) {
    if (text.size() + n > limit) {
      too_long = true;
      break;
    }
    text.append(buffer, n);
  }
  const bool read_failed = !too_long && std::ferror(in.stream) != 0;
  const int read_errno = errno;
  close_input(in);
  if (read_failed) {
    std::fprintf(stderr, "%s: %s: read error: %s\n", program_name, display(in).c_str(),
                 std::strerror(read_errno));
    return false;
  }
  if (too_long) {
    std::fprintf(stderr, "%s: %s: longer than %zu bytes; is this the right file?\n", program_name,
                 display(in).c_str(), limit);
    return false;
  }
  return true;
}

bool write_whole_output(const std::string &path, const std::string &content) {
  std::string error;
  if (path.empty() || path == "-") {
    if (std::fwrite(content.data(), 1, content.size(), stdout) != content.size() ||
        std::fflush(stdout) != 0) {
      std::fprintf(stderr, "%s: (standard output): write error: %s\n", program_name,
                   std::strerror(errno));
      return false;
    }
    return true;
  }
  output_file out;
  bool ok = open_output(out, path, error);
  if (ok && std::fwrite(content.data(), 1, content.size(), out.stream) != content.size()) {
    error = std::string("write error: ") + std::strerror(errno);
    discard_output(out);
    ok = false;
  } else if (ok) {
    ok = commit_output(out, error);
  }
  if (!ok) std::fprintf(stderr, "%s: %s: %s\n", program_name, quoted_name(path).c_str(), error.c_str());
  return ok;
}

bool take_output(const char *command, const std::string &value, std::string &output, int &status) {
  if (value.empty()) {
    status = usage_error(std::string(command) + ": option '-o' needs a file name, not ''");
    return false;
  }
  output = value;
  return true;
}

bool open_input_for(int argc, char **argv, const std::string &output, input_file &in, int &status) {
  if (!open_input(argc, argv, in, status)) return false;
  if (!output.empty() && output != "-" && output_is_input(output, fileno(in.stream))) {
    std::fprintf(stderr, "%s: %s: the output is this input file itself; choose another output\n",
                 program_name, quoted_name(output).c_str());
    close_input(in);
    status = status_failed;
    return false;
  }
  return true;
}
