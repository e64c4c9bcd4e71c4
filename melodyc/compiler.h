// The melody compiler: a tempo token, then one three-byte tone record per
// note token.
#pragma once

#include <cstdint>
#include <cstdio>

// One unit of the output stream: the period in cycles of the 1.5 MHz
// reference clock, most significant byte first, then the duration in units.
struct tone_record {
  unsigned char bytes[3];
};

tone_record make_tone_record(std::uint16_t period, std::uint8_t duration);

// Why a compilation stopped: the complete diagnostic line, newline included.
struct melody_failure {
  char message[192];
};

// Compiles all of `in` to `out`, flushing `out` at the end. Returns false,
// with the diagnostic in `failure`, at the first error; the records of
// earlier tokens have then been handed to `out` already.
bool compile_melody_core(std::FILE *in, std::FILE *out,
                         melody_failure &failure);

// The program's behaviour: compiles `in` to `out`; on an error writes the
// diagnostic to standard error and ends the process with status 1.
void compile_melody(std::FILE *in, std::FILE *out);
