// The rules that turn the tempo token and each note token into a base
// duration and a tone record. melodyc and tonetool's checker both apply
// them, so the two can never disagree on what a melody means.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// One unit of the output stream: the period in cycles of the 1.5 MHz
// reference clock, most significant byte first, then the duration in units.
struct tone_record {
  unsigned char bytes[3];
};

tone_record make_tone_record(std::uint16_t period, std::uint8_t duration);

enum class tempo_error { none, invalid_tempo, tempo_out_of_range };

struct tempo_outcome {
  tempo_error error;
  float tempo;             // the token's leading decimal value
  unsigned base_duration;  // 1 to 255 when error is none
  int units;               // round(8 / tempo) before the range check: -1 below 0, 256 from 255.5 on
  int used;                // bytes of the token the value takes
};

// Reads the tempo token (nullptr when the input held none).
tempo_outcome apply_tempo(const char *token);

enum class note_error {
  none,
  invalid_note,           // empty name, or a name not in note_names
  note_out_of_range,      // frequency outside D#0 .. A3
  invalid_duration,       // duration text that converts to 0
  duration_out_of_range,  // duration above 255 units
};

// A note token's meaning, with the parts of the token that the rules read
// (as offsets into the token) so that messages can quote and point at them.
struct note_outcome {
  note_error error;
  tone_record record;  // when error is none
  int cell;            // note_names cell; -1 when the name is invalid
  int name_end;        // the name is token[0, name_end)
  int octave_value;    // the octave byte minus '0' (0 - '0' at the token's end)
  int octave_index;    // offset of the octave byte; -1 for a pause
  int duration_start;  // the duration text is token[duration_start, duration_end)
  int duration_end;
  float multiplier;    // 1 without a duration text
  int units;           // duration before the range check, when it was reached
};

// Applies the note rules to a zero-terminated, upper-cased token.
note_outcome apply_note(const char *token, unsigned base_duration);

// The playable notes, from the note table and its frequency range, as
// semitones above C0 (octave * 12 + cell), and how messages name them.
struct playable_range {
  int lowest, highest;
};
playable_range playable_notes();
std::string note_name(int semitone);  // "D#0"
std::string playable_text();          // "D#0 to A3"
