// tonetool from-midi: the melody of a standard MIDI file as a melody text
// that melodyc compiles. The melody is one channel (across tracks, never
// percussion): its chords give their top note, overlapping notes end where
// the next begins, gaps are pauses. Pitches move by whole octaves to fit
// melodyc's range; lengths are written as rtttl writes them (rhythm.h).
#pragma once

#include <string>
#include <vector>

#include "midi_reader.h"

struct from_midi_options {
  double unit_ms = 125;
  bool transpose_given = false;
  int transpose = 0;         // semitones
  int channel = 0;           // 1 to 16; 0: the one whose notes are highest on average
  int track = 0;             // 1 to the file's tracks; 0: every track
  bool approximate = false;  // write a rhythm the unit cannot keep anyway
};

struct from_midi_result {
  std::vector<std::string> warnings;
  std::string error;    // why nothing is written, when something is wrong
  std::string melody;   // the melody text, when there is no error
  std::string summary;  // the tempo change and largest rhythm error
};

// The melody of `song`; `source` names the file in the text's comment.
from_midi_result melody_from_midi(const midi_song &song, const std::string &source, const from_midi_options &options);

// Each track and channel with notes: their count, range and the track's
// name, one line each, for choosing --track and --channel.
std::string midi_listing(const midi_song &song);
