#include "tone_records.h"

tone_stream read_tones(std::FILE *in, std::size_t max_records) {
  tone_stream stream;
  unsigned char buffer[3 * 4096];
  std::size_t carried = 0;  // bytes of a record split across two reads
  for (;;) {
    const std::size_t got = std::fread(buffer + carried, 1, sizeof buffer - carried, in);
    const std::size_t available = carried + got;
    const std::size_t whole = available / 3 * 3;
    if (stream.tones.size() + whole / 3 > max_records) {
      stream.too_long = true;
      return stream;
    }
    for (std::size_t i = 0; i < whole; i += 3) {
      stream.tones.push_back(
          {static_cast<std::uint16_t>(buffer[i] << 8 | buffer[i + 1]), buffer[i + 2]});
    }
    carried = available - whole;
    for (std::size_t i = 0; i < carried; ++i) buffer[i] = buffer[whole + i];
    if (got == 0) break;
  }
  stream.read_error = std::ferror(in) != 0;
  stream.trailing_bytes = carried;
  return stream;
}

double tone_frequency(const tone &t) {
  return t.period == 0 ? 0.0 : 1500000.0 / t.period;
}
