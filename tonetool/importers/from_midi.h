// tonetool from-midi: the melody of a standard MIDI file as a melody text
// that melodyc compiles. The melody is the part a listener follows (see
// lead_part.h): a channel scored on what tunes have, and inside a part of
// several voices the voice that moves like one. Its times are snapped to
// the grid the file is sequenced on, its chords give their top note,
// overlapping notes end where the next begins, gaps are pauses. The line
// is written by the melody writer (tune_writer.h): pitches by octaves into
// melodyc's range, lengths in whole units on the tune's own timeline, and
// at the defaults every file with notes is written as the nearest tune.
#pragma once

#include <string>
#include <vector>

#include "midi_reader.h"

struct from_midi_options {
  double unit_ms = 125;
  bool transpose_given = false;
  int transpose = 0;         // semitones
  int channel = 0;           // 1 to 16; 0: the lead
  int track = 0;             // 1 to the file's tracks (format 2: the sequence); 0: every track
  bool strict = false;       // refuse a note the unit cannot keep, or a tune no octave shift fits
};

struct from_midi_result {
  std::vector<std::string> warnings;
  std::string error;    // why nothing is written, when something is wrong
  std::string melody;   // the melody text, when there is no error
  std::string summary;  // the tempo change and largest rhythm error
};

// The melody of `song`; `source` names the file in the text's comment.
from_midi_result melody_from_midi(const midi_song &song, const std::string &source, const from_midi_options &options);

// Each track (format 2: sequence) and channel with notes: their count,
// range and the track's name, one line each, for choosing --track and
// --channel.
std::string midi_listing(const midi_song &song);
