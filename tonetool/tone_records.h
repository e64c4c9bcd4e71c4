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

struct tone_stream {
  std::vector<tone> tones;
  std::size_t trailing_bytes = 0;  // bytes of an incomplete last record
  bool read_error = false;
  bool too_long = false;  // more than the records asked for came
};

// Reads at most `max_records` records; past them, stops with too_long.
tone_stream read_tones(std::FILE *in, std::size_t max_records = SIZE_MAX);

// The tone's frequency in hertz; 0 for a pause.
double tone_frequency(const tone &t);
