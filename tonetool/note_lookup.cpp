// Records back to notes: the note a period plays, and the lines of
// tonetool list.
#include "note_lookup.h"

#include <vector>
#include <cmath>
#include <cstdio>

#include "note_rules.h"
#include "note_table.h"

namespace {

struct period_name {
  std::uint16_t period;
  std::string name;
};

// Every note of the octaves melodyc plays in (0 to 3, from its own rules),
// with its period worked out with melodyc's own arithmetic so the periods
// match to the cycle; 0 for a note of those octaves it cannot play.
const std::vector<period_name> &notes_by_period() {
  static const auto notes = [] {
    const playable_range playable = playable_notes();
    std::vector<period_name> all;
    for (int octave = playable.lowest / 12; octave <= playable.highest / 12; ++octave) {
      for (int cell = 0; cell < 12; ++cell) {
        const float frequency = scaled_frequency(cell, octave);
        const std::uint16_t period = frequency_in_range(frequency) ? tone_period(frequency) : 0;
        all.push_back({period, std::string(note_cell_names[cell]) + static_cast<char>('0' + octave)});
      }
    }
    return all;
  }();
  return notes;
}

}  // namespace

std::string note_for_period(std::uint16_t period) {
  if (period == 0) return "P";
  for (const auto &note : notes_by_period()) {
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
