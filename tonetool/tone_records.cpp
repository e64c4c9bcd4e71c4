// Reading tone records, whole or as they arrive.
#include "tone_records.h"

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "diagnostics.h"
#include "note_table.h"

tone_reader start_tone_reader(std::FILE *in) {
  tone_reader reader;
  reader.in = in;
  reader.fd = fileno(in);
  return reader;
}

void read_first_records(tone_reader &reader) {
  if (reader.started) return;
  std::vector<tone> block;
  if (read_tone_block(reader, block)) reader.pending = std::move(block);
}

bool read_tone_block(tone_reader &reader, std::vector<tone> &block) {
  block.clear();
  if (!reader.pending.empty()) {
    block.swap(reader.pending);
    return true;
  }
  unsigned char buffer[3 * 4096];
  for (std::size_t i = 0; i < reader.carried_bytes; ++i) buffer[i] = reader.carried[i];
  const std::size_t room = sizeof buffer - reader.carried_bytes;
  ssize_t got = 0;
  if (reader.fd < 0) {  // a stream in memory
    got = static_cast<ssize_t>(std::fread(buffer + reader.carried_bytes, 1, room, reader.in));
    if (got == 0 && std::ferror(reader.in)) got = -1;
  } else {
    do {
      got = read(reader.fd, buffer + reader.carried_bytes, room);
    } while (got < 0 && errno == EINTR);
  }
  if (got <= 0) {
    if (got < 0) reader.read_error = read_error_text();
    return false;
  }
  if (!reader.started) {
    reader.started = true;
    if (looks_like_melody_text(buffer, static_cast<std::size_t>(got))) {
      reader.melody_text = true;
      return false;
    }
  }
  const std::size_t available = reader.carried_bytes + static_cast<std::size_t>(got);
  const std::size_t whole = available / 3 * 3;
  for (std::size_t i = 0; i < whole; i += 3) {
    block.push_back({static_cast<std::uint16_t>(buffer[i] << 8 | buffer[i + 1]), buffer[i + 2]});
  }
  reader.carried_bytes = available - whole;
  for (std::size_t i = 0; i < reader.carried_bytes; ++i) reader.carried[i] = buffer[whole + i];
  reader.records += block.size();
  // Two bytes of a record and nothing more yet: read on.
  return block.empty() ? read_tone_block(reader, block) : true;
}

namespace {

bool text_byte(unsigned char c) { return (c >= 32 && c < 127) || c == '\n' || c == '\r' || c == '\t'; }

}  // namespace

bool looks_like_melody_text(const unsigned char *bytes, std::size_t size) {
  std::size_t i = 0;
  for (; i < size; ++i) {
    if (!text_byte(bytes[i])) return false;
  }
  std::size_t first = 0;
  while (first < size && (bytes[first] == ' ' || bytes[first] == '\t' || bytes[first] == '\n' || bytes[first] == '\r')) {
    ++first;
  }
  return first < size && ((bytes[first] >= '0' && bytes[first] <= '9') || bytes[first] == '.' || bytes[first] == '%');
}

bool looks_like_tone_records(const std::string &bytes) {
  if (bytes.empty() || bytes.size() % 3 != 0) return false;
  const std::size_t looked = std::min<std::size_t>(bytes.size(), 96);
  std::size_t control = 0;
  for (std::size_t i = 0; i < looked; ++i) control += !text_byte(static_cast<unsigned char>(bytes[i])) &&
                                                      static_cast<unsigned char>(bytes[i]) < 0x80;
  return 8 * control >= looked;
}

bool units_of_file(tone_reader &reader, std::uint64_t &units) {
  struct stat st {};
  const off_t start = reader.fd < 0 ? -1 : lseek(reader.fd, 0, SEEK_CUR);
  if (start < 0 || fstat(reader.fd, &st) != 0 || !S_ISREG(st.st_mode) || start < 0) return false;
  tone_reader counter = reader;
  std::vector<tone> block;
  units = 0;
  while (read_tone_block(counter, block)) {
    for (const tone &t : block) units += t.duration;
  }
  return counter.read_error.empty() && lseek(reader.fd, start, SEEK_SET) == start;
}

tone_stream read_tones(std::FILE *in, std::size_t max_records) {
  tone_stream stream;
  tone_reader reader = start_tone_reader(in);
  std::vector<tone> block;
  while (read_tone_block(reader, block)) {
    if (stream.tones.size() + block.size() > max_records) {
      stream.too_long = true;
      return stream;
    }
    stream.tones.insert(stream.tones.end(), block.begin(), block.end());
  }
  stream.read_error = reader.read_error;
  stream.trailing_bytes = reader.carried_bytes;
  return stream;
}

double tone_frequency(const tone &t) {
  return t.period == 0 ? 0.0 : static_cast<double>(reference_clock_hz) / t.period;
}
