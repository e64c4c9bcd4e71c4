// A tune's rhythm in whole duration units, on the tune's own timeline: at
// most one change of tempo, made only where it makes the tune's grid (its
// shortest step) whole units (see grid_scale), then every note's start on the unit nearest
// its true start, so that rounding never adds up along the tune. Notes
// shorter than a unit join a neighbour, and so do gaps shorter than half a
// unit. tonetool rtttl and from-midi write tunes with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// How far the change of tempo may go (the records' tempo against the
// source's, either way), and how far a note may be off its length for the
// tune to count as kept (what --strict asks).
inline constexpr double widest_tempo_change = 0.30;
inline constexpr double close_enough = 0.10;
// The shortest unit advice names: a buzzer plays nothing shorter.
inline constexpr double least_advised_unit_ms = 20;

// One note or rest, in units at the source's tempo.
struct timed_note {
  bool rest = false;
  double start = 0, length = 0;
};

struct timing {
  double scale = 1;                  // the records' length over the source's: their tempo is 1 / scale times it
  std::vector<std::int64_t> units;   // each note's, 0 for one that joined a neighbour
  std::vector<double> wanted;        // each kept note's length at the new tempo, with what joined it
  std::size_t merged = 0;            // notes (not rests) shorter than a unit, joined to a neighbour
  std::size_t first_merged = SIZE_MAX;
  double worst = 0;                  // the largest error of a kept note, as a magnitude
  double worst_error = 0;            // and with its sign: units / wanted - 1
  std::size_t worst_note = 0;
};

// The scale (the records' length over the source's) that makes a grid
// step of `grid_units` (at the source's tempo) whole units: the closest to
// no change within close_enough; else, where the tempo as it is would
// lose notes of one step or put them more than close_enough off, within
// widest_tempo_change; else 1, as where there is no grid (0).
double grid_scale(double grid_units);

// The notes on the unit grid at `scale`.
timing time_notes(const std::vector<timed_note> &notes, double scale);

// Counts note `i`'s error (its units against what it wanted) towards the
// timing's worst.
void weigh_error(timing &t, std::size_t i);

// Every note written, each within close_enough of its length.
bool keeps_every_note(const timing &t);

// The tune timed at a unit of `unit_ms` milliseconds, where the notes'
// units are given at `given_ms` and the grid step lasts `grid_ms` (0: none):
// what tonetool does when --unit-ms is that unit.
timing time_at_unit(const std::vector<timed_note> &notes, double given_ms, double unit_ms, double grid_ms);

// The longest unit, from least_advised_unit_ms up and as advice writes it
// (3 decimals), at which every note keeps its length: one step of the grid
// over a whole number. "" where none does.
std::string fitting_unit(const std::vector<timed_note> &notes, double unit_ms, double grid_ms);

// The unit at which the grid step is whole units with no change of tempo,
// the nearest to `unit_ms`; "" without a grid or below least_advised_unit_ms.
std::string tempo_keeping_unit(double unit_ms, double grid_ms);

// Whether advice may name a unit of `ms` milliseconds: --unit-ms takes
// above 0 up to 60000, and advice shows 3 decimals.
inline bool unit_can_be_given(double ms) { return ms >= 0.001 && ms <= 60000; }

// The shortest multiplier text that melodyc turns into `units` (0 to 255)
// at base duration `base` after the note name `name` ("" for the base
// itself, ".25" for a quarter of it).
std::string duration_text(const std::string &name, int base, int units);

// The shortest tempo token that gives base duration `base`.
std::string tempo_token(int base);
