// Reading a standard MIDI file (format 0, 1 or 2) for its notes: every note
// with its track, channel, key and ticks, every tempo change of every
// track, and the track names. Running status, note-off written as a note-on
// of velocity 0, and meta and sysex events skipped by their lengths are
// read as the format describes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct midi_note {
  std::uint16_t track;     // 0-based
  std::uint8_t channel;    // 0-based: 9 is General MIDI's percussion
  std::uint8_t key;        // 0 to 127; 69 is A = 440 Hz
  std::uint64_t start, end;  // ticks
};

struct midi_tempo {
  std::uint64_t tick;
  std::uint32_t quarter_us;  // microseconds a quarter note
  double seconds = 0;        // the time at `tick`, worked out once
  std::uint16_t track = 0;   // where it is: format 2's sequences each have their own
};

struct midi_song {
  int format = 0;
  int tracks = 0;
  int ticks_per_quarter = 0;  // 0 with SMPTE time
  double ticks_per_second = 0;  // SMPTE time: frames a second times ticks a frame
  std::vector<midi_note> notes;     // in order of start, then track
  std::vector<midi_tempo> tempos;   // in order of tick
  std::vector<std::string> track_names;  // "" where a track has none
  std::vector<std::uint64_t> track_ends;  // the tick of each track's end
  // What was read but not used, one line each: tempo events that set no
  // tempo.
  std::vector<std::string> warnings;
};

// The limits that keep a hostile file's cost in proportion to its notes.
inline constexpr std::size_t longest_midi_file = std::size_t{16} << 20;
inline constexpr std::size_t most_midi_notes = std::size_t{1} << 20;

// Reads the file's bytes; false with `error` set (one line: what is wrong
// and where) for anything that is not a MIDI file. In format 2 each track
// is a sequence of its own: see midi_sequence.
bool read_midi(const std::string &bytes, midi_song &song, std::string &error);

// Format 2's sequence in track `track` (0-based) as a song of one track:
// its notes, its own tempo map and its end.
midi_song midi_sequence(const midi_song &song, int track);

// The time of `tick` in seconds, through the tempo map (500,000 us a
// quarter note until the first change) or the SMPTE rate.
double midi_seconds(const midi_song &song, std::uint64_t tick);
