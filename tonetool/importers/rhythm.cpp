// The timing of imported notes: the grid, the unit and the error of each
// note.
#include "rhythm.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "message_text.h"
#include "note_rules.h"

double grid_scale(double grid_units) {
  if (grid_units <= 0) return 1;
  // The exact scale closest to no change, within `widest`.
  const auto closest = [grid_units](double widest) {
    double best = 1, change = widest + 1e-9;
    const auto first = static_cast<std::int64_t>(std::max(1.0, std::floor(grid_units * (1 - widest))));
    const auto last = static_cast<std::int64_t>(std::ceil(grid_units / (1 - widest)));
    for (std::int64_t k = first; k <= last; ++k) {
      const double scale = static_cast<double>(k) / grid_units;
      const double off = std::fabs(1 / scale - 1);  // the records' tempo against the source's is 1 / scale
      if (off < change) {
        change = off;
        best = scale;
      }
    }
    return best;
  };
  // A small change that holds the grid is always worth it; a larger one
  // only where the tempo as it is would lose notes or put every step of
  // the grid more than close_enough off.
  if (const double small = closest(close_enough); small != 1) return small;
  const double whole = std::round(grid_units);
  const bool kept_well = grid_units >= 1 && std::fabs(whole / grid_units - 1) <= close_enough + 1e-9;
  return kept_well ? 1 : closest(widest_tempo_change);
}

timing time_notes(const std::vector<timed_note> &notes, double scale) {
  timing t;
  t.scale = scale;
  const std::size_t n = notes.size();
  t.units.assign(n, 0);
  t.wanted.assign(n, 0);
  if (n == 0) return t;
  // A gap shorter than half a unit belongs to the note before it.
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < n; ++i) {
    const bool joins = notes[i].rest && i > 0 && !notes[i - 1].rest && scale * notes[i].length < 0.5;
    if (!joins) order.push_back(i);
  }
  // Each note starts on the unit nearest its true start and runs to the
  // next one's, the last to the unit nearest the tune's end: no rounding
  // adds up along the tune. A note that starts and ends on the same unit
  // (one shorter than a unit, between two) joins the note before it.
  const double tune_end = notes[n - 1].start + notes[n - 1].length;
  bool sounds = false;
  for (std::size_t j = 0; j < order.size(); ++j) {
    const std::size_t i = order[j];
    const double to = j + 1 < order.size() ? notes[order[j + 1]].start : tune_end;
    t.units[i] = std::max<std::int64_t>(0, std::llround(scale * to) - std::llround(scale * notes[i].start));
    t.wanted[i] = scale * (to - notes[i].start);
    sounds = sounds || (!notes[i].rest && t.units[i] > 0);
  }
  // A tune of one short note still sounds it.
  if (!sounds) {
    for (std::size_t i = 0; i < n; ++i) {
      if (notes[i].rest) continue;
      t.units[i] = 1;
      break;
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (t.units[i] == 0) {
      if (!notes[i].rest && t.merged++ == 0) t.first_merged = i;
      continue;
    }
    weigh_error(t, i);
  }
  return t;
}

void weigh_error(timing &t, std::size_t i) {
  const double error = static_cast<double>(t.units[i]) / t.wanted[i] - 1;
  if (std::fabs(error) > t.worst) {
    t.worst = std::fabs(error);
    t.worst_error = error;
    t.worst_note = i;
  }
}

bool keeps_every_note(const timing &t) { return t.merged == 0 && t.worst <= close_enough + 1e-9; }

timing time_at_unit(const std::vector<timed_note> &notes, double given_ms, double unit_ms, double grid_ms) {
  std::vector<timed_note> at_unit = notes;
  for (timed_note &n : at_unit) {
    n.start = n.start * given_ms / unit_ms;
    n.length = n.length * given_ms / unit_ms;
  }
  return time_notes(at_unit, grid_scale(grid_ms / unit_ms));
}

std::string fitting_unit(const std::vector<timed_note> &notes, double unit_ms, double grid_ms) {
  if (grid_ms <= 0) return "";
  for (int k = 1; grid_ms / k >= least_advised_unit_ms; ++k) {
    const std::string text = plain_number(grid_ms / k, 3);
    if (!unit_can_be_given(grid_ms / k)) continue;
    if (keeps_every_note(time_at_unit(notes, unit_ms, std::stod(text), grid_ms))) return text;
  }
  return "";
}

std::string tempo_keeping_unit(double unit_ms, double grid_ms) {
  if (grid_ms <= 0) return "";
  const double k = std::max(1.0, std::round(grid_ms / unit_ms));
  const double unit = grid_ms / k;
  return unit >= least_advised_unit_ms && unit_can_be_given(unit) ? plain_number(unit, 3) : "";
}

namespace {

// A multiplier as melodyc reads it after the octave digit: "" for 1,
// ".25" rather than "0.25".
std::string multiplier_text(double multiplier, int decimals) {
  std::string s = plain_number(multiplier, decimals);
  if (s == "1") return "";
  if (s.rfind("0.", 0) == 0) s.erase(0, 1);
  return s;
}

}  // namespace

std::string duration_text(const std::string &name, int base, int units) {
  // Half a unit is the most that still rounds to 0.
  const double multiplier = units == 0 ? 0.4 / base : static_cast<double>(units) / base;
  std::string text;
  for (int decimals = 0; decimals <= 12; ++decimals) {
    text = multiplier_text(multiplier, decimals);
    const note_outcome outcome = apply_note((name + text).c_str(), static_cast<unsigned>(base));
    if (outcome.error == note_error::none && outcome.units == units) break;
  }
  return text;
}

std::string tempo_token(int base) {
  std::string tempo;
  for (int precision = 3; precision <= 9; ++precision) {
    tempo = plain_number(8.0 / base, precision);
    if (apply_tempo(tempo.c_str()).base_duration == static_cast<unsigned>(base)) break;
  }
  return tempo;
}
