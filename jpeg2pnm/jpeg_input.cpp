#include "jpeg_input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "diagnostics.h"
#include "input_file.h"

std::FILE *open_jpeg_input(const std::string &input) {
  std::string error;
  std::FILE *in = open_input_file(input, "a JPEG file", error);
  if (in == nullptr) report(input_name(input), error);
  return in;
}

bool read_jpeg_input(const std::string &input, std::FILE *in, std::uint64_t limit,
                     std::vector<unsigned char> &data) {
  const auto too_long = [&] {
    report(input_name(input), "longer than " + std::to_string(limit) +
                                  " bytes, more than any image within the limits takes; --max-input MIB "
                                  "raises the limit, 0 lifts it");
    return false;
  };
  // A regular file's size is known: one read of it, then one to see its end.
  struct stat st {};
  const bool sized = fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
  if (sized && limit != 0 && static_cast<std::uint64_t>(st.st_size) > limit) return too_long();
  data.resize(sized ? static_cast<std::size_t>(st.st_size) + 1 : std::size_t{1} << 16);
  std::size_t size = 0;
  for (;;) {
    size += std::fread(data.data() + size, 1, data.size() - size, in);
    if (size >= 2 && (data[0] != 0xFF || data[1] != 0xD8)) {
      char message[64];
      std::snprintf(message, sizeof message, "Not a JPEG file: starts with 0x%02x 0x%02x", data[0], data[1]);
      report(input_name(input), message);
      return false;
    }
    if (size < data.size()) break;
    if (limit != 0 && size > limit) return too_long();
    data.resize(limit != 0 ? std::min<std::uint64_t>(data.size() * 2, limit + 1) : data.size() * 2);
  }
  data.resize(size);
  if (std::ferror(in)) {
    report(input_name(input), read_error_text(errno));
    return false;
  }
  if (size == 1) {
    char message[64];
    std::snprintf(message, sizeof message, "Not a JPEG file: one byte long (0x%02x)", data[0]);
    report(input_name(input), message);
    return false;
  }
  return true;
}
