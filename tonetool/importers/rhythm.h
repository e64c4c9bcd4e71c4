// A tune's rhythm in whole duration units: every note value (the notes of
// one length) rounded to units after one uniform change of tempo, chosen so
// that no note is lost and every note keeps its length as closely as can
// be. tonetool rtttl and from-midi write tunes with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// How far one uniform change of tempo may go (the records' tempo against
// the source's, either way), and how far a note may then be off its
// length, for a tune to be written without --approximate.
inline constexpr double widest_tempo_change = 0.30;
inline constexpr double close_enough = 0.10;

// One note value: what its notes share (`key`: a ringtone's length and
// dot, a MIDI note's ticks), its length in units at the source's own
// tempo, the notes that have it, and the units it is written with.
struct note_value {
  std::int64_t key;
  double target;          // units at the source's tempo
  std::size_t notes;      // how many notes have it
  std::size_t first;      // index of the first of them
  std::int64_t units = 0;  // as written: 1 up to the longest allowed
  bool vanishes = false;  // rounded to 0 units (and written as 1)
  double error = 0;       // units / (played * target) - 1
};

// The tune's rhythm at one uniform change of tempo: each value's units,
// the change the records really make over the whole tune (`played`: the
// records' length over the source's, so their tempo is 1 / played times
// the source's) and each value's error against it.
struct rhythm {
  std::vector<note_value> values;
  double played = 1;
  double worst = 0;  // the largest error, as a magnitude
  std::size_t worst_value = 0;
  bool vanishing = false;  // some value rounds to 0 units
};

// The best rhythm for one uniform change of tempo of at most
// widest_tempo_change, each value held to 1 to `longest` units: no note
// lost, then the smallest largest error (to the percent), then the
// smallest change. Every change at which one of the commonest values lands
// on whole units is tried, and the unchanged tempo.
rhythm best_rhythm(const std::vector<note_value> &values, std::int64_t longest);

// Whether the rhythm writes the tune without distorting it.
bool keeps_the_tune(const rhythm &r);

// A unit of milliseconds at which every value's units are whole within 2%
// (or, failing that, within close_enough), one that --unit-ms takes: the
// commonest value's length over a whole number; "" when none is.
std::string fitting_unit(const std::vector<note_value> &values, double unit_ms);

// Whether advice may name a unit of `ms` milliseconds: --unit-ms takes
// above 0 up to 60000, and advice shows 3 decimals.
inline bool unit_can_be_given(double ms) { return ms >= 0.001 && ms <= 60000; }

// The shortest multiplier text that melodyc turns into `units` (0 to 255)
// at base duration `base` after the note name `name` ("" for the base
// itself, ".25" for a quarter of it).
std::string duration_text(const std::string &name, int base, int units);

// The shortest tempo token that gives base duration `base`.
std::string tempo_token(int base);
