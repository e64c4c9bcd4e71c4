// Which part of a MIDI song a listener knows as its tune, and the tune
// inside a part that plays more than one line (a piano). A part is scored
// on what melodies have: one note at a time, many notes spread over the
// song, a singable register and range, mostly stepwise motion, often on
// top; a track name such as "Melody" is a hint. Nothing depends on channel
// numbers or the order of tracks.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "midi_reader.h"

// One channel's case for being the melody.
struct part_score {
  int channel = 0;            // 0-based
  std::size_t notes = 0;      // onsets: a chord counts once
  double monophony = 0;       // the share of its notes that start alone, with nothing of its own sounding
  double spread = 0;          // the share of the song's time between its first and last note
  double register_fit = 0;    // 1 where its middle lies in a singing voice's register (A3 to C6)
  double stepwise = 0;        // the share of moves of 2 semitones or less
  double on_top = 0;          // the share of the time it holds the highest sounding note
  bool named = false;         // its track's name says it holds the tune
  double score = 0;           // all of these together; the best part has the highest
};

// Every channel with notes (percussion aside), the likeliest melody first.
std::vector<part_score> score_parts(const midi_song &song, const std::vector<midi_note> &notes);

// A part's notes that start alone, or on top, with nothing of the part
// still sounding: below this share the part is read as several voices.
inline constexpr double monophonic_enough = 0.8;

// The melody inside a part of several voices: chords (onsets within a
// 64th note) give one note; the line follows the voice that moves like a
// melody, on top most of the time, by small steps; a chord struck under a
// held melody note does not cut it, and the accompaniment is dropped. The
// notes returned are the melody's, in order of start.
std::vector<midi_note> melody_voice(const std::vector<midi_note> &notes, int ticks_per_quarter);

// One line a part, best first: "channel 1: score 1.00 (412 notes, 98% one
// at a time, 71% stepwise, on top 45%), the melody" for --list.
std::string describe_parts(const std::vector<part_score> &parts);
