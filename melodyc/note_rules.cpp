// The tempo and note rules, which melodyc and tonetool's checker share.
#include "note_rules.h"

#include <algorithm>
#include <cstring>

#include "decimal_text.h"
#include "note_table.h"
#include "token_reader.h"

tone_record make_tone_record(std::uint16_t period, std::uint8_t duration) {
  return {{static_cast<unsigned char>(period >> 8),
           static_cast<unsigned char>(period & 0xFF), duration}};
}

namespace {

// round() of the melody format: add one half, then truncate toward zero.
// Returns -1 below 0 and 256 for anything of 255.5 or more (NaN counts as
// neither and gives -1), so no value is converted that an int cannot hold.
int round_units(long double value) {
  const long double shifted = value + 0.5L;
  if (shifted >= 256.0L) return 256;
  if (!(shifted >= 0.0L)) return -1;
  return static_cast<int>(shifted);
}

bool is_duration_char(char c) { return (c >= '0' && c <= '9') || c == '.'; }

}  // namespace

tempo_outcome apply_tempo(const char *token) {
  int used = 0;
  const float tempo = token != nullptr ? leading_float_value(token, &used) : 0.0f;
  if (tempo == 0.0f) return {tempo_error::invalid_tempo, tempo, 0, 0, used};
  const int base = round_units(1.0L / (static_cast<long double>(tempo) * 0.125L));
  if (base < 1 || base > 255) return {tempo_error::tempo_out_of_range, tempo, 0, base, used};
  return {tempo_error::none, tempo, static_cast<unsigned>(base), base, used};
}

note_outcome apply_note(const char *token, unsigned base_duration) {
  note_outcome o{};
  o.cell = -1;
  o.octave_index = -1;
  o.multiplier = 1.0f;
  o.units = -1;

  const char *p = token;
  while (is_note_name_char(*p)) ++p;
  o.name_end = static_cast<int>(p - token);
  const auto cell = note_cell(std::string_view(token, static_cast<std::size_t>(o.name_end)));
  if (!cell) {
    o.error = note_error::invalid_note;
    o.duration_start = o.duration_end = o.name_end;
    return o;
  }
  o.cell = *cell;

  std::uint16_t period = 0;
  if (*cell != pause_cell) {
    // The octave is the next byte's code minus '0'; the end of the token
    // counts as code 0 and is not stepped over. Read as unsigned so the
    // value never depends on the signedness of char.
    o.octave_index = o.name_end;
    o.octave_value = static_cast<unsigned char>(*p) - '0';
    if (*p != '\0') ++p;
    const float frequency = scaled_frequency(*cell, o.octave_value);
    if (!frequency_in_range(frequency)) {
      o.error = note_error::note_out_of_range;
      o.duration_start = o.duration_end = static_cast<int>(p - token);
      return o;
    }
    period = tone_period(frequency);
  }

  // Whatever follows the duration text is ignored.
  o.duration_start = static_cast<int>(p - token);
  while (is_duration_char(*p)) ++p;
  o.duration_end = static_cast<int>(p - token);
  const int length = o.duration_end - o.duration_start;
  if (length == 0) {
    o.units = static_cast<int>(base_duration);
  } else {
    char scratch[token_capacity];
    std::memcpy(scratch, token + o.duration_start, static_cast<std::size_t>(length));
    scratch[length] = '\0';
    o.multiplier = digits_and_dots_value(scratch, length);
    if (o.multiplier == 0.0f) {
      o.error = note_error::invalid_duration;
      return o;
    }
    o.units = round_units(static_cast<long double>(base_duration) *
                          static_cast<long double>(o.multiplier));
    if (o.units > 255) {
      o.error = note_error::duration_out_of_range;
      return o;
    }
  }
  o.record = make_tone_record(period, static_cast<std::uint8_t>(o.units));
  return o;
}

playable_range playable_notes() {
  playable_range range{1 << 20, -1};
  for (int octave = 0; octave <= 9; ++octave) {
    for (int cell = 0; cell < pause_cell; ++cell) {
      if (!frequency_in_range(scaled_frequency(cell, octave))) continue;
      range.lowest = std::min(range.lowest, 12 * octave + cell);
      range.highest = std::max(range.highest, 12 * octave + cell);
    }
  }
  return range;
}

std::string note_name(int semitone) {
  const int octave = semitone >= 0 ? semitone / 12 : -((11 - semitone) / 12);
  return std::string(note_cell_names[semitone - 12 * octave]) + std::to_string(octave);
}

std::string playable_text() {
  const playable_range range = playable_notes();
  return note_name(range.lowest) + " to " + note_name(range.highest);
}
