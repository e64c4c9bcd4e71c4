// Ringtones in, melodies out: an RTTTL ringtone
// (NAME:d=4,o=6,b=63:16e6,8p,4c#.7,...) turned into a melody text that
// melodyc compiles, one note token per ringtone note.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct rtttl_options {
  double unit_ms = 125;         // milliseconds per duration unit
  bool transpose_given = false;  // set by hand: no automatic octave shift
  int transpose = 0;            // semitones
  // Refuse a tune no octave shift fits, or a note the unit cannot keep,
  // rather than write the nearest tune.
  bool strict = false;
};

struct rtttl_message {
  bool error;
  std::int64_t line;    // 1-based, where the token (or section) begins
  std::int64_t column;  // 1-based byte column
  std::string text;
};

struct rtttl_conversion {
  std::vector<rtttl_message> messages;  // errors and warnings, in text order
  int errors = 0;    // counted, also past the first thousand messages kept
  int warnings = 0;
  std::string melody;   // the melody text, when there are no errors
  std::string summary;  // the tempo played and the largest rhythm error, when there are notes
  // What the ringtone says of itself, as far as it was read.
  std::string name;
  std::size_t notes = 0;
  double seconds = 0;  // at its b=
  int beats = 0;       // its b=
};

// Reads a whole ringtone. Ringtone octave 4 holds A = 440 Hz, melodyc's A1.
rtttl_conversion convert_rtttl(std::string_view text, const rtttl_options &options);
