// The twelve-tone scale of octave 1 plus the pause, and the pitch
// arithmetic that turns a note name and octave into a clock period.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// 13 cells of two characters; a one-letter name is padded with a space.
inline constexpr char note_names[] = "C C#D D#E F F#G G#A A#B P";
inline constexpr int note_cell_count = 13;
inline constexpr int pause_cell = 12;

// Pitches of octave 1 in hertz, by cell; the pause has frequency 0.
extern const float note_frequency[note_cell_count];

// Reference clock of the tone generator, in hertz.
inline constexpr long double reference_clock_hz = 1500000.0L;

// True for the characters a note name may be built from.
bool is_note_name_char(char c);

// Cell of the first occurrence of `name` in note_names, if it occurs.
std::optional<int> note_cell(std::string_view name);

// Frequency of a cell scaled by the octave: the octave value's lowest five
// bits k give frequency * 2^k * 0.5, with 2^31 taken as the most negative
// 32-bit value (so k = 31 yields a negative frequency).
float scaled_frequency(int cell, int octave_value);

// Inclusive bounds: D# in octave 0 and A in octave 3.
float lowest_frequency();
float highest_frequency();
bool frequency_in_range(float frequency);

// Clock cycles in one cycle of a tone of an in-range frequency.
std::uint16_t tone_period(float frequency);
