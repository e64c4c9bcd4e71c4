// One line of notes, from a ringtone or a MIDI file, written as a melody
// text that melodyc compiles: the whole tune moved by octaves into
// melodyc's range (or, where no shift fits, the notes outside folded into
// it), the rhythm in whole units on the tune's own timeline (rhythm.h),
// the comments that say where it came from and what changed, the tokens
// wrapped at 72 columns, and the warnings and the summary line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rhythm.h"

// One note or rest of the line, on the source's timeline.
struct tune_note {
  bool rest = false;
  int semitone = 0;        // above melodyc's C0 (A1 is 21), before any shift
  std::int64_t value = 0;  // notes of one value share it: a ringtone's length and dot, a MIDI note's length
  double start = 0;        // in units at the source's tempo
  double length = 0;
};

// One note value: the notes that share it, and its length in units at the
// source's tempo.
struct note_value {
  std::int64_t key;
  double target;
  std::size_t notes;
  std::size_t first;  // index of the first of them
};

// What the writer needs to know of the source, to name things as it does.
struct tune_source {
  std::string heading;     // the first comment line, without "% "
  std::string tempo_name;  // "b=63", "the file's tempo"
  std::string range_name;  // how messages name the playable range
  // A note as messages name it: "note 3 '8c#'", "the note C5 at 1.250 s".
  std::function<std::string(std::size_t note)> label;
  // The comment that says what the base duration is; `value` is the base
  // note value, `base` its units, `unit_text` " of 125 ms".
  std::function<std::string(const note_value &value, int base, const std::string &unit_text)> base_comment;
  // The tune's grid (its shortest step) in milliseconds at the source's
  // tempo, 0 for none: the unit holds it exactly where a change of tempo
  // within widest_tempo_change lets it, and advice is made from it.
  double grid_ms = 0;
  std::int64_t preferred_value = -1;  // the value that wins a tie for the base
  int empty_base = 1;                 // the base duration of a tune of no notes
};

struct tune_options {
  double unit_ms = 125;
  bool transpose_given = false;
  int transpose = 0;          // semitones, with transpose_given
  bool strict = false;        // refuse a tune no octave shift fits, or a note the unit cannot keep
  bool split_long = false;    // a note past 255 units becomes several records (else it is cut to 255)
};

inline constexpr std::size_t about_the_tune = SIZE_MAX;

struct tune_message {
  bool error;
  std::size_t note;  // the note it is about, or about_the_tune
  std::string text;
};

struct written_tune {
  std::vector<tune_message> messages;  // in the order found
  bool ok = false;                     // false after an error: nothing is written
  std::string melody;                  // the melody text
  std::string summary;                 // the tempo, the largest rhythm error and the notes joined
};

// The most records a written tune may have.
inline constexpr std::uint64_t most_tune_records = std::uint64_t{1} << 20;

written_tune write_tune(const std::vector<tune_note> &notes, const tune_source &source, const tune_options &options);

// A note's frequency in hertz, as a message shows it (A1 is 440 Hz).
double note_hz(int semitone);
