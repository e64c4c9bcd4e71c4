// Reading a tone record stream: three bytes a record, the period of a
// 1.5 MHz clock (big-endian) and the duration in units.
#pragma once

#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

struct tone {
  std::uint16_t period;  // 0 for a pause
  std::uint8_t duration;
};

// Reads a stream block by block as its bytes arrive, so that a live
// stream from a device gives its records at once and an endless one never
// piles up in memory.
struct tone_reader {
  std::FILE *in = nullptr;
  int fd = -1;  // read directly where there is one, so nothing waits in a buffer
  unsigned char carried[2] = {};  // bytes of a record split across two reads
  std::size_t carried_bytes = 0;
  std::uint64_t records = 0;      // delivered so far
  std::string read_error;  // "read error: REASON" when a read failed
  bool started = false;      // the first bytes have been read
  bool melody_text = false;  // they were a melody text, not records: nothing is delivered
  std::vector<tone> pending;  // read ahead by read_first_records, delivered next
};

// Reads the first records ahead, before a command writes anything, so that
// an input of the wrong kind (`melody_text`) is known first.
void read_first_records(tone_reader &reader);

// Whether the first bytes of an input are a melody text (printable text
// that opens with a tempo or a comment) rather than tone records, which
// hold control bytes in nearly every record.
bool looks_like_melody_text(const unsigned char *bytes, std::size_t size);

// Whether a whole input is tone records rather than a melody text: a
// whole number of records, with control bytes in the first of them as
// periods and durations have.
bool looks_like_tone_records(const std::string &bytes);

tone_reader start_tone_reader(std::FILE *in);

// The next records, as many as have arrived, up to 4096; false (and an
// empty block) at the end of the stream, on a read error, or when the
// first bytes are a melody text (`melody_text`).
bool read_tone_block(tone_reader &reader, std::vector<tone> &block);

// The duration units of the whole stream, when it is a regular file (read
// once, then rewound for the reader); false for a pipe or device.
bool units_of_file(tone_reader &reader, std::uint64_t &units);

struct tone_stream {
  std::vector<tone> tones;
  std::size_t trailing_bytes = 0;  // bytes of an incomplete last record
  std::string read_error;  // "read error: REASON" when a read failed
  bool too_long = false;  // more than the records asked for came
};

// Reads at most `max_records` records; past them, stops with too_long.
tone_stream read_tones(std::FILE *in, std::size_t max_records = SIZE_MAX);

// The tone's frequency in hertz; 0 for a pause.
double tone_frequency(const tone &t);
