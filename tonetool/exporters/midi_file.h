// Tone records as a standard MIDI file: format 0, one track, each tone a
// note of the MIDI number nearest its frequency, each pause a rest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tone_records.h"

struct midi_settings {
  double unit_ms = 125;  // milliseconds per duration unit
  int beat_units = 0;    // units in a quarter note; 0: the commonest duration
};

struct midi_result {
  bool ok = false;
  std::string bytes;  // the file, when ok
  std::string error;  // why not, otherwise
};

// The MIDI note number nearest a tone's frequency (A = 440 Hz is 69), or
// -1 for a pause or a frequency beyond MIDI's 0 to 127.
int midi_note_for_period(std::uint16_t period);

midi_result make_midi(const std::vector<tone> &tones, const midi_settings &settings);
