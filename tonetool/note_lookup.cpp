#include "note_lookup.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "note_table.h"

namespace {

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
        all[n++] = {period, std::string(note_cell_names[cell]) + static_cast<char>('0' + octave)};
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

std::string nearest_note(double frequency) {
  if (!(frequency > 0)) return "";
  int best_cell = 0, best_octave = 0;
  double best_cents = 1e9;
  for (int cell = 0; cell < 12; ++cell) {
    // A cell's note in octave k sounds at note_frequency * 2^k / 2.
    const double base = static_cast<double>(note_frequency[cell]) * 0.5;
    const int octave = static_cast<int>(std::lround(std::log2(frequency / base)));
    const double cents = 1200.0 * std::log2(frequency / (base * std::ldexp(1.0, octave)));
    if (std::fabs(cents) < std::fabs(best_cents)) {
      best_cell = cell;
      best_octave = octave;
      best_cents = cents;
    }
  }
  char text[48];
  std::snprintf(text, sizeof text, "~%s%d %+ld cents", note_cell_names[best_cell], best_octave,
                std::lround(best_cents));
  return text;
}

std::string list_header() {
  char line[128];
  std::snprintf(line, sizeof line, "%6s %10s  %6s  %13s  %-16s %5s", "index", "start (s)",
                "period", "frequency", "note", "units");
  return line;
}

std::string list_line(std::size_t index, double start_seconds, std::uint16_t period,
                      unsigned duration) {
  std::string note = note_for_period(period);
  const double frequency = period == 0 ? 0.0 : static_cast<double>(reference_clock_hz) / period;
  if (note.empty()) note = nearest_note(frequency);
  char hz[24] = "";
  if (period != 0) std::snprintf(hz, sizeof hz, "%10.2f Hz", frequency);
  char line[128];
  std::snprintf(line, sizeof line, "%6zu %10.3f  %6u  %13s  %-16s %5u", index, start_seconds,
                static_cast<unsigned>(period), hz, note.c_str(), duration);
  return line;
}
