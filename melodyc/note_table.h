// The twelve-tone scale of octave 1 plus the pause, and the pitch
// arithmetic that turns a note name and octave into a clock period.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// 13 cells of two characters; a one-letter name is padded with a space.
inline constexpr char note_names[] = "C C#D D#E F F#G G#A A#B P";
inline constexpr int note_cell_count = 13;
inline constexpr int pause_cell = 12;

// The plain spelling of each cell's name.
inline constexpr const char *note_cell_names[note_cell_count] = {
    "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B", "P"};

// Pitches of octave 1 in hertz, by cell; the pause has frequency 0.
extern const float note_frequency[note_cell_count];

// Reference clock of the tone generator, in hertz.
inline constexpr long double reference_clock_hz = 1500000.0L;

// Name lookups run once per note; their tables are built at compile time
// and the lookups are inline.
namespace note_table_detail {

constexpr int names_length = static_cast<int>(sizeof note_names - 1);

// Offset of the first occurrence of `name` in note_names, or -1. A plain
// loop, so that it also runs at compile time to build the tables below.
constexpr int find_offset(std::string_view name) {
  const int length = static_cast<int>(name.size());
  for (int offset = 0; offset + length <= names_length; ++offset) {
    int matched = 0;
    while (matched < length &&
           note_names[offset + matched] == name[static_cast<std::size_t>(matched)]) {
      ++matched;
    }
    if (matched == length) return offset;
  }
  return -1;
}

// The distinct characters of note_names, C C#D D#E F F#G G#A A#B P.
constexpr std::string_view name_chars = "C #DEFGABP";
constexpr int name_char_count = static_cast<int>(name_chars.size());

struct name_tables {
  // Position of a byte in name_chars, -1 for bytes no name holds.
  signed char index[256];
  // Cells of the one- and two-character names, -1 where a name is absent.
  signed char one[name_char_count];
  signed char two[name_char_count][name_char_count];
};

constexpr signed char cell_of(std::string_view name) {
  const int offset = find_offset(name);
  return static_cast<signed char>(offset < 0 ? -1 : offset / 2);
}

// Names of one and two characters cover nearly every token; they are looked
// up in tables built at compile time instead of searched.
inline constexpr name_tables tables = [] {
  name_tables t{};
  for (auto &i : t.index) i = -1;
  for (int a = 0; a < name_char_count; ++a) {
    t.index[static_cast<unsigned char>(name_chars[static_cast<std::size_t>(a)])] =
        static_cast<signed char>(a);
    const char one_name[] = {name_chars[static_cast<std::size_t>(a)]};
    t.one[a] = cell_of(std::string_view(one_name, 1));
    for (int b = 0; b < name_char_count; ++b) {
      const char two_name[] = {name_chars[static_cast<std::size_t>(a)],
                               name_chars[static_cast<std::size_t>(b)]};
      t.two[a][b] = cell_of(std::string_view(two_name, 2));
    }
  }
  return t;
}();

constexpr int name_index(char c) { return tables.index[static_cast<unsigned char>(c)]; }

}  // namespace note_table_detail

// True for the characters a note name may be built from.
inline bool is_note_name_char(char c) { return note_table_detail::name_index(c) >= 0; }

// Cell of the first occurrence of `name` in note_names, if it occurs.
inline std::optional<int> note_cell(std::string_view name) {
  int cell = -1;
  const int first = name.empty() ? -1 : note_table_detail::name_index(name[0]);
  const int second = name.size() < 2 ? -1 : note_table_detail::name_index(name[1]);
  if (name.size() == 1 && first >= 0) {
    cell = note_table_detail::tables.one[first];
  } else if (name.size() == 2 && first >= 0 && second >= 0) {
    cell = note_table_detail::tables.two[first][second];
  } else if (name.size() > 2) {
    cell = note_table_detail::cell_of(name);
  }
  if (cell < 0) return std::nullopt;
  return cell;
}

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
