#include "note_lookup.h"

#include <array>

#include "note_table.h"

namespace {

constexpr const char *cell_names[] = {"C", "C#", "D", "D#", "E", "F", "F#",
                                      "G", "G#", "A", "A#", "B"};
constexpr int highest_octave = 3;

struct period_name {
  std::uint16_t period;
  std::string name;
};

// Every playable note, octaves 0 to 3, worked out with melodyc's own
// arithmetic so the periods match to the cycle.
const std::array<period_name, 12 * (highest_octave + 1)> &playable_notes() {
  static const auto notes = [] {
    std::array<period_name, 12 * (highest_octave + 1)> all{};
    std::size_t n = 0;
    for (int octave = 0; octave <= highest_octave; ++octave) {
      for (int cell = 0; cell < 12; ++cell) {
        const float frequency = scaled_frequency(cell, octave);
        const std::uint16_t period = frequency_in_range(frequency) ? tone_period(frequency) : 0;
        all[n++] = {period, std::string(cell_names[cell]) + static_cast<char>('0' + octave)};
      }
    }
    return all;
  }();
  return notes;
}

}  // namespace

std::string note_for_period(std::uint16_t period) {
  if (period == 0) return "P";
  for (const auto &note : playable_notes()) {
    if (note.period == period) return note.name;
  }
  return "";
}
