// Which note melodyc turns into a given period.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The plainest spelling of the note with this period ("A1", "C#2"; "P"
// for period 0), or "" when no playable note has it.
std::string note_for_period(std::uint16_t period);

// The nearest note to `frequency` in melodyc's tuning, in any octave
// (octaves beyond 0 to 3 are not playable), and how far off it is in
// cents: "~A#4 +12 cents". For a frequency of 0 or less, "".
std::string nearest_note(double frequency);

// One line of `tonetool list`, and its header: index, start time in
// seconds, period, frequency, note (the nearest one, marked ~, for a
// period no playable note has) and duration in units, in columns that
// line up for every period.
std::string list_header();
std::string list_line(std::size_t index, double start_seconds, std::uint16_t period,
                      unsigned duration);
