// The melody of a MIDI file: its lead part, timed and written as a melody
// text.
#include "from_midi.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "message_text.h"
#include "note_rules.h"
#include "lead_part.h"
#include "rhythm.h"
#include "tune_writer.h"

namespace {

constexpr int percussion = 9;  // General MIDI's channel 10
// MIDI key 69 (A = 440 Hz) is melodyc's A1, semitone 21 above its C0.
constexpr int key_offset = 48;

// A MIDI key in scientific pitch, as MIDI editors name it: 60 is C4.
std::string key_name(int key) { return note_name(key - 12); }

// One note or rest of the melody line, in ticks.
struct line_note {
  int key;  // -1 for a rest
  std::uint64_t start, end;
};

// The notes of the chosen track and channel.
std::vector<midi_note> notes_of(const midi_song &song, int track, int channel) {
  std::vector<midi_note> notes;
  for (const midi_note &n : song.notes) {
    if (n.channel == percussion || n.end <= n.start) continue;
    if (track != 0 && n.track + 1 != track) continue;
    if (channel != 0 && n.channel + 1 != channel) continue;
    notes.push_back(n);
  }
  return notes;
}

// The grid a file is sequenced on: a step in ticks, 0 for none found.
struct time_grid {
  double step = 0;
  const char *name = "";
};

// The coarsest grid, from quarter notes down to 32nds and triplets, that
// 99 in 100 of the lead's onsets and ends (grace notes aside) lie on (within an eighth of a
// step, so that a note-off a little early still counts; an end only where
// the note keeps at least a step), or else the
// finest one if 9 in 10 do; a lead that is on no grid (a file made with
// odd units a beat, or played without one) keeps its times.
time_grid grid_of(const std::vector<midi_note> &all, int ticks_per_quarter) {
  // Ornaments say nothing of the grid: a note shorter than a 16th and than
  // a quarter of the note it leads into (a grace note) is left out.
  std::vector<midi_note> lead;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const std::uint64_t length = all[i].end - all[i].start;
    const bool ornament = i + 1 < all.size() && all[i + 1].start > all[i].start &&
                          4 * length < static_cast<std::uint64_t>(ticks_per_quarter) &&
                          4 * length < all[i + 1].end - all[i + 1].start;
    if (!ornament) lead.push_back(all[i]);
  }
  static const struct {
    int per_quarter;
    const char *name;
  } grids[] = {{1, "quarter notes"},       {2, "8th notes"},   {3, "8th-note triplets"},
               {4, "16th notes"},          {6, "16th-note triplets"}, {8, "32nd notes"},
               {12, "32nd-note triplets"}, {24, "32nd notes and their triplets"}};
  if (ticks_per_quarter == 0 || lead.empty()) return {};
  const auto on_grid = [&](double step) {
    std::size_t on = 0;
    for (const midi_note &n : lead) {
      const double start = static_cast<double>(n.start) / step, end = static_cast<double>(n.end) / step;
      on += std::fabs(start - std::round(start)) <= 0.125 + 1e-9;
      // An end counts where it keeps the note at least a step long.
      on += std::fabs(end - std::round(end)) <= 0.125 + 1e-9 && std::round(end) > std::round(start);
    }
    return static_cast<double>(on) / static_cast<double>(2 * lead.size());
  };
  for (const auto &g : grids) {
    const double step = static_cast<double>(ticks_per_quarter) / g.per_quarter;
    if (step < 2) break;
    if (on_grid(step) >= 0.99) return {step, g.name};
  }
  const auto &finest = grids[std::size(grids) - 1];
  const double step = static_cast<double>(ticks_per_quarter) / finest.per_quarter;
  if (step >= 2 && on_grid(step) >= 0.9) return {step, finest.name};
  return {};
}

// Milliseconds a tick lasts over the notes' span, where the tempo holds
// within a percent all through it; 0 where it moves, since a grid then
// has no one length in time for the unit to hold.
double steady_tick_ms(const midi_song &song, const std::vector<midi_note> &notes) {
  std::uint64_t first = UINT64_MAX, last = 0;
  for (const midi_note &n : notes) {
    first = std::min(first, n.start);
    last = std::max(last, n.end);
  }
  if (last <= first) return 0;
  const auto tick_ms = [&](std::uint64_t tick) { return (midi_seconds(song, tick + 1) - midi_seconds(song, tick)) * 1000.0; };
  const double at_first = tick_ms(first);
  for (const midi_tempo &t : song.tempos) {
    if (t.tick > first && t.tick < last && std::fabs(tick_ms(t.tick) / at_first - 1) > 0.01) return 0;
  }
  return at_first;
}

std::uint64_t snap(std::uint64_t tick, double step) {
  return static_cast<std::uint64_t>(std::llround(std::round(static_cast<double>(tick) / step) * step));
}

// The lead with its onsets and ends on the grid: a note-off a few ticks
// early meets the next note, and a grace note (shorter than half a step,
// snapped onto the onset of another) gives its time to its neighbours.
// A short note alone on its onset keeps one step.
std::vector<midi_note> snapped(std::vector<midi_note> notes, const time_grid &grid) {
  if (grid.step == 0) return notes;
  std::map<std::uint64_t, std::size_t> onsets;  // notes starting at each onset
  for (midi_note &n : notes) {
    n.start = snap(n.start, grid.step);
    n.end = snap(n.end, grid.step);
    ++onsets[n.start];
  }
  std::vector<midi_note> kept;
  for (midi_note n : notes) {
    if (n.end <= n.start) {
      if (std::size_t &sharing = onsets[n.start]; sharing > 1) {
        --sharing;
        continue;
      }
      n.end = n.start + static_cast<std::uint64_t>(std::llround(grid.step));
    }
    kept.push_back(n);
  }
  std::stable_sort(kept.begin(), kept.end(), [](const midi_note &a, const midi_note &b) { return a.start < b.start; });
  return kept;
}

// One line of notes: a chord (onsets within `chord` ticks) gives its top
// note, a note ends where the next begins, a gap is a rest, and so is the silence after the last note up to
// `end`; the silence before the first note is dropped.
std::vector<line_note> melody_line(const std::vector<midi_note> &notes, std::uint64_t end, std::uint64_t chord) {
  std::vector<line_note> line;
  for (std::size_t i = 0; i < notes.size();) {
    std::size_t j = i;
    int key = notes[i].key;
    std::uint64_t stop = notes[i].end;
    for (; j < notes.size() && notes[j].start <= notes[i].start + chord; ++j) {
      if (notes[j].key > key || (notes[j].key == key && notes[j].end > stop)) {
        key = notes[j].key;
        stop = notes[j].end;
      }
    }
    const std::uint64_t start = notes[i].start;
    if (j < notes.size()) stop = std::min(stop, notes[j].start);
    if (!line.empty() && line.back().end < start) line.push_back({-1, line.back().end, start});
    line.push_back({key, start, stop});
    i = j;
  }
  if (!line.empty() && line.back().end < end) line.push_back({-1, line.back().end, end});
  return line;
}

std::string note_label(const line_note &n, const midi_song &song) {
  char at[32];
  std::snprintf(at, sizeof at, "%.3f s", midi_seconds(song, n.start));
  return (n.key < 0 ? std::string("the rest") : "the note " + key_name(n.key)) + " at " + at;
}

// The sequence to read: the file itself, or in format 2 one of its tracks,
// by default the first with notes outside the drums (0-based; -1 when
// there is none).
int sequence_track(const midi_song &song, int track) {
  if (track != 0) return track - 1;
  for (const midi_note &n : song.notes) {
    if (n.channel != percussion) return n.track;
  }
  return -1;
}

// Why no note is left to write, in terms of what the user gave: a track
// or channel only where one was given.
std::string no_notes_reason(const midi_song &file, const midi_song &song, const from_midi_options &options) {
  if (file.notes.empty()) return "the file holds no notes";
  if (options.track != 0 || options.channel != 0) {
    return "no notes on that track and channel, percussion aside; --list shows where the notes are";
  }
  const bool pitched = std::any_of(song.notes.begin(), song.notes.end(),
                                   [](const midi_note &n) { return n.channel != percussion; });
  if (!pitched) return "the file's notes are all percussion (channel 10), never a melody; --list shows them";
  return "every note of the file ends where it starts (0 ticks long), so none sounds; --list shows them";
}

}  // namespace

from_midi_result melody_from_midi(const midi_song &file, const std::string &source, const from_midi_options &options) {
  from_midi_result result;
  if (options.channel == percussion + 1) {
    result.error = "channel 10 is General MIDI's percussion, never a melody; choose another --channel";
    return result;
  }
  if (options.track > file.tracks) {
    result.error = "--track " + std::to_string(options.track) + ": the file has " + std::to_string(file.tracks) +
                   (file.tracks == 1 ? " track" : " tracks");
    return result;
  }
  const bool sequences = file.format == 2;
  const int sequence = sequences ? sequence_track(file, options.track) : -1;
  const midi_song song = sequence >= 0 ? midi_sequence(file, sequence) : file;
  std::vector<midi_note> notes = notes_of(song, sequences ? 0 : options.track, options.channel);
  const std::vector<part_score> parts = score_parts(song, notes);
  const int channel = options.channel != 0 ? options.channel : parts.empty() ? 0 : parts.front().channel + 1;
  notes.erase(std::remove_if(notes.begin(), notes.end(), [&](const midi_note &n) { return n.channel + 1 != channel; }),
              notes.end());
  // A part of several voices (a piano) gives the voice that moves like a
  // melody.
  const auto part = std::find_if(parts.begin(), parts.end(), [&](const part_score &p) { return p.channel + 1 == channel; });
  const bool voices = part != parts.end() && part->monophony < monophonic_enough;
  if (voices) notes = melody_voice(notes, song.ticks_per_quarter);
  if (notes.empty()) {
    result.error = no_notes_reason(file, song, options);
    return result;
  }
  std::uint64_t end = 0;
  for (const midi_note &n : notes) end = std::max(end, song.track_ends[n.track]);
  const time_grid grid = grid_of(notes, song.ticks_per_quarter);
  if (grid.step > 0) end = snap(end, grid.step);
  const auto chord = static_cast<std::uint64_t>(grid.step > 0 ? 0 : std::max(0, song.ticks_per_quarter / 16));
  const std::vector<line_note> line = melody_line(snapped(notes, grid), end, chord);

  // The line as the melody writer takes it: lengths within half a percent
  // of each other are one value, so that a played file has a few thousand
  // values at most, whatever its length.
  std::vector<tune_note> tune;
  for (const line_note &n : line) {
    const double start_ms = midi_seconds(song, n.start) * 1000.0;
    const double ms = midi_seconds(song, n.end) * 1000.0 - start_ms;
    tune.push_back({n.key < 0, n.key - key_offset, std::llround(std::log(std::max(ms, 0.001)) / std::log(1.005)),
                    start_ms / options.unit_ms, ms / options.unit_ms});
  }
  tune_source described;
  const std::string where =
      sequences ? "sequence " + std::to_string(sequence + 1) + " of " + std::to_string(file.tracks) + ", "
      : options.track != 0 ? "track " + std::to_string(options.track) + ", "
                           : "";
  const std::string &track_name =
      sequences ? song.track_names[static_cast<std::size_t>(sequence)]
                : song.track_names[static_cast<std::size_t>(std::max(options.track - 1, 0))];
  const bool show_name = (sequences || options.track != 0) && !track_name.empty();
  described.heading = source + ", from tonetool from-midi: " + where + (show_name ? quoted_value(track_name) + ", " : "") +
                      "channel " + std::to_string(channel) + ", " + std::to_string(notes.size()) +
                      (notes.size() == 1 ? " note" : " notes");
  if (grid.step > 0) {
    described.heading += "\n% Times on the file's grid of " + std::string(grid.name) + " (" +
                         plain_number(grid.step, 2) + " ticks)";
  }
  described.tempo_name = "the file's tempo";
  described.range_name = "melodyc's " + playable_text();
  described.label = [&](std::size_t i) { return note_label(line[i], song); };
  described.base_comment = [&options](const note_value &v, int base, const std::string &unit_text) {
    return "The base duration, " + std::to_string(base) + (base == 1 ? " unit" : " units") + unit_text +
           ", is the commonest length, " + with_decimals(v.target * options.unit_ms, 1) + " ms";
  };
  described.grid_ms = grid.step > 0 ? grid.step * steady_tick_ms(song, notes) : 0;
  tune_options settings;
  settings.unit_ms = options.unit_ms;
  settings.transpose_given = options.transpose_given;
  settings.transpose = options.transpose;
  settings.strict = options.strict;
  settings.split_long = true;
  written_tune written = write_tune(tune, described, settings);
  std::size_t errors = 0;
  for (tune_message &m : written.messages) {
    if (!m.error) {
      result.warnings.push_back(std::move(m.text));
    } else if (errors++ == 0) {
      result.error = std::move(m.text);
    }
  }
  if (errors > 1) {
    result.error += " (and " + std::to_string(errors - 1) + (errors == 2 ? " more note" : " more notes") + " like it)";
  }
  if (!written.ok) return result;
  result.melody = std::move(written.melody);
  result.summary = std::move(written.summary);
  if (sequences && file.tracks > 1) {
    result.summary = "sequence " + std::to_string(sequence + 1) + " of " + std::to_string(file.tracks) +
                     " (--track N takes another): " + result.summary;
  }
  return result;
}

std::string midi_listing(const midi_song &song) {
  struct group {
    std::size_t notes = 0;
    int low = 127, high = 0;
  };
  std::map<std::pair<int, int>, group> groups;
  for (const midi_note &n : song.notes) {
    group &g = groups[{n.track, n.channel}];
    ++g.notes;
    g.low = std::min<int>(g.low, n.key);
    g.high = std::max<int>(g.high, n.key);
  }
  std::string text;
  for (const auto &[where, g] : groups) {
    const std::string &name = song.track_names[static_cast<std::size_t>(where.first)];
    char line[160];
    // Both namings: MIDI editors' (60 is C4) and the melody text's.
    std::snprintf(line, sizeof line, "%s %d, channel %d: %zu %s, %s to %s (melodyc's %s to %s)",
                  song.format == 2 ? "sequence" : "track", where.first + 1, where.second + 1, g.notes,
                  g.notes == 1 ? "note" : "notes", key_name(g.low).c_str(), key_name(g.high).c_str(),
                  note_name(g.low - key_offset).c_str(), note_name(g.high - key_offset).c_str());
    text += line;
    if (where.second == percussion) text += " (percussion)";
    if (!name.empty()) text += ", " + quoted_value(name);
    text += "\n";
  }
  // Which part would be taken, and why.
  const int sequence = song.format == 2 ? sequence_track(song, 0) : -1;
  const midi_song part_of = sequence >= 0 ? midi_sequence(song, sequence) : song;
  const std::vector<part_score> parts = score_parts(part_of, notes_of(part_of, 0, 0));
  if (!parts.empty()) {
    text += std::string("melody candidates") + (sequence >= 0 ? " in sequence " + std::to_string(sequence + 1) : "") +
            ", best first (--channel N takes another):\n" + describe_parts(parts);
  }
  return text;
}
