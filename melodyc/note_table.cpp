#include "note_table.h"

#include <cstddef>

const float note_frequency[note_cell_count] = {
    261.62f, 277.18f, 293.66f, 311.13f, 329.63f, 349.23f, 369.99f,
    391.99f, 415.30f, 440.00f, 466.16f, 493.28f, 0.0f};

namespace {

constexpr int cell_d_sharp = 3;
constexpr int cell_a = 9;
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
constexpr name_tables tables = [] {
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

int name_index(char c) { return tables.index[static_cast<unsigned char>(c)]; }

}  // namespace

bool is_note_name_char(char c) { return name_index(c) >= 0; }

std::optional<int> note_cell(std::string_view name) {
  int cell = -1;
  const int first = name.empty() ? -1 : name_index(name[0]);
  const int second = name.size() < 2 ? -1 : name_index(name[1]);
  if (name.size() == 1 && first >= 0) {
    cell = tables.one[first];
  } else if (name.size() == 2 && first >= 0 && second >= 0) {
    cell = tables.two[first][second];
  } else if (name.size() > 2) {
    cell = cell_of(name);
  }
  if (cell < 0) return std::nullopt;
  return cell;
}

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
