// The scale of octave 1 and the pitch arithmetic that gives each note its
// clock period.
#include "note_table.h"

#include <cstddef>

const float note_frequency[note_cell_count] = {
    261.62f, 277.18f, 293.66f, 311.13f, 329.63f, 349.23f, 369.99f,
    391.99f, 415.30f, 440.00f, 466.16f, 493.28f, 0.0f};

namespace {

constexpr int cell_d_sharp = 3;
constexpr int cell_a = 9;
}  // namespace

float scaled_frequency(int cell, int octave_value) {
  const int k = octave_value & 31;
  // 2^k as a 32-bit signed value: 2^31 wraps to its most negative value.
  const long double factor =
      k == 31 ? -2147483648.0L : static_cast<long double>(1UL << k);
  return static_cast<float>(static_cast<long double>(note_frequency[cell]) *
                            factor * 0.5L);
}

float lowest_frequency() {
  return static_cast<float>(note_frequency[cell_d_sharp] * 0.5L);
}

float highest_frequency() {
  return static_cast<float>(note_frequency[cell_a] * 4.0L);
}

bool frequency_in_range(float frequency) {
  return frequency >= lowest_frequency() && frequency <= highest_frequency();
}

std::uint16_t tone_period(float frequency) {
  // In range the period lies between 852 and 9642; truncation after
  // adding one half is the rounding the tone hardware expects.
  const long double period =
      reference_clock_hz / static_cast<long double>(frequency) + 0.5L;
  return static_cast<std::uint16_t>(period);
}
