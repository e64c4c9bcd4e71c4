#include "from_midi.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "message_text.h"
#include "note_rules.h"
#include "note_table.h"
#include "rhythm.h"

namespace {

constexpr int percussion = 9;  // General MIDI's channel 10
// MIDI key 69 (A = 440 Hz) is melodyc's A1, semitone 21 above its C0.
constexpr int key_offset = 48;
// A record holds at most this many units; a longer note is several.
constexpr std::int64_t longest_record = 255;

// A MIDI key in scientific pitch, as MIDI editors name it: 60 is C4.
std::string key_name(int key) { return note_name(key - 12); }

// One note or rest of the melody line.
struct line_note {
  int key;  // -1 for a rest
  std::uint64_t start, end;
  double ms;
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

// The channel whose notes are highest on average, of those with notes.
int melody_channel(const std::vector<midi_note> &notes) {
  double sum[16] = {};
  std::size_t count[16] = {};
  for (const midi_note &n : notes) {
    sum[n.channel] += n.key;
    ++count[n.channel];
  }
  int best = -1;
  for (int c = 0; c < 16; ++c) {
    if (count[c] == 0) continue;
    if (best < 0 || sum[c] / static_cast<double>(count[c]) > sum[best] / static_cast<double>(count[best])) best = c;
  }
  return best + 1;
}

// One line of notes: a chord gives its top note, a note ends where the next
// begins, a gap is a rest, and so is the silence after the last note up to
// the end of its track; the silence before the first note is dropped.
std::vector<line_note> melody_line(const midi_song &song, const std::vector<midi_note> &notes) {
  std::vector<line_note> line;
  for (std::size_t i = 0; i < notes.size();) {
    std::size_t j = i;
    int key = notes[i].key;
    std::uint64_t end = notes[i].end;
    for (; j < notes.size() && notes[j].start == notes[i].start; ++j) {
      if (notes[j].key > key || (notes[j].key == key && notes[j].end > end)) {
        key = notes[j].key;
        end = notes[j].end;
      }
    }
    const std::uint64_t start = notes[i].start;
    if (j < notes.size()) end = std::min(end, notes[j].start);
    if (!line.empty() && line.back().end < start) line.push_back({-1, line.back().end, start, 0});
    line.push_back({key, start, end, 0});
    i = j;
  }
  std::uint64_t track_end = 0;
  for (const midi_note &n : notes) track_end = std::max(track_end, song.track_ends[n.track]);
  if (!line.empty() && line.back().end < track_end) line.push_back({-1, line.back().end, track_end, 0});
  for (line_note &n : line) n.ms = (midi_seconds(song, n.end) - midi_seconds(song, n.start)) * 1000.0;
  return line;
}

// The octave shift that fits every note into melodyc's range, by the
// smallest number of octaves; false when none does.
bool octave_shift(int low, int high, int &shift) {
  const playable_range playable = playable_notes();
  for (int octaves = 0; octaves <= 10; ++octaves) {
    for (const int k : {octaves, -octaves}) {
      if (low + 12 * k >= playable.lowest && high + 12 * k <= playable.highest) {
        shift = 12 * k;
        return true;
      }
    }
  }
  return false;
}

// The shift by whole octaves that fits the most notes, when none fits all.
int shift_for_most(const std::vector<line_note> &line, std::size_t &fitting) {
  const playable_range playable = playable_notes();
  int best = 0;
  fitting = 0;
  for (int k = -10; k <= 10; ++k) {
    std::size_t fit = 0;
    for (const line_note &n : line) {
      const int m = n.key - key_offset + 12 * k;
      fit += n.key >= 0 && m >= playable.lowest && m <= playable.highest;
    }
    if (fit > fitting || (fit == fitting && std::abs(k) < std::abs(best / 12))) {
      fitting = fit;
      best = 12 * k;
    }
  }
  return best;
}

// A unit of milliseconds at which every value's units are whole within 2%
// (or, failing that, within close_enough): the commonest value's length
// over a whole number; "" when none is.
std::string fitting_unit(const std::vector<note_value> &values, double unit_ms) {
  const note_value *common = &values.front();
  for (const note_value &v : values) {
    if (v.notes > common->notes) common = &v;
  }
  for (const double within : {0.02, close_enough}) {
    for (int k = 1; k <= 255; ++k) {
      const double unit = common->target * unit_ms / k;
      bool fits = unit_can_be_given(unit);
      for (const note_value &v : values) {
        const double want = v.target * unit_ms / unit;
        const double got = std::round(want);
        if (got < 1 || std::fabs(got / want - 1) > within) fits = false;
      }
      if (fits) return plain_number(unit, 3);
    }
  }
  return "";
}

std::string note_label(const line_note &n, const midi_song &song) {
  char at[32];
  std::snprintf(at, sizeof at, "%.3f s", midi_seconds(song, n.start));
  return (n.key < 0 ? std::string("the rest") : "the note " + key_name(n.key)) + " at " + at;
}

// The tokens of one note of `units`, several records of at most 255 when
// it is longer, each written against the base duration. The multiplier of
// a count of units is the same for every note: `texts` keeps them.
void append_tokens(const std::string &name, std::int64_t units, int base, std::map<std::int64_t, std::string> &texts,
                   std::vector<std::string> &tokens) {
  while (units > 0) {
    const std::int64_t part = std::min(units, longest_record);
    auto it = texts.find(part);
    if (it == texts.end()) it = texts.emplace(part, duration_text("A1", base, static_cast<int>(part))).first;
    tokens.push_back(name + it->second);
    units -= part;
  }
}

}  // namespace

from_midi_result melody_from_midi(const midi_song &song, const std::string &source, const from_midi_options &options) {
  from_midi_result result;
  if (options.channel == percussion + 1) {
    result.error = "channel 10 is General MIDI's percussion, never a melody; choose another --channel";
    return result;
  }
  if (options.track > song.tracks) {
    result.error = "--track " + std::to_string(options.track) + ": the file has " + std::to_string(song.tracks) +
                   (song.tracks == 1 ? " track" : " tracks");
    return result;
  }
  std::vector<midi_note> notes = notes_of(song, options.track, options.channel);
  const int channel = options.channel != 0 ? options.channel : melody_channel(notes);
  notes.erase(std::remove_if(notes.begin(), notes.end(), [&](const midi_note &n) { return n.channel + 1 != channel; }),
              notes.end());
  if (notes.empty()) {
    result.error = song.notes.empty() ? "the file holds no notes"
                                      : "no notes on that track and channel, percussion aside; --list shows where the notes are";
    return result;
  }
  const std::vector<line_note> line = melody_line(song, notes);

  // Pitch: the whole tune by whole octaves into melodyc's range.
  int low = 1000, high = -1000;
  for (const line_note &n : line) {
    if (n.key < 0) continue;
    low = std::min(low, n.key - key_offset);
    high = std::max(high, n.key - key_offset);
  }
  int shift = options.transpose;
  const playable_range playable = playable_notes();
  if (options.transpose_given) {
    if (low + shift < playable.lowest || high + shift > playable.highest) {
      result.error = "the notes run from " + key_name(low + key_offset) + " to " + key_name(high + key_offset) +
                     ", beyond melodyc's " + playable_text() + " after --transpose " + std::to_string(shift);
      return result;
    }
  } else if (!octave_shift(low, high, shift)) {
    std::size_t fitting = 0;
    const int most = shift_for_most(line, fitting);
    result.error = "the notes run from " + key_name(low + key_offset) + " to " + key_name(high + key_offset) + ", " +
                   std::to_string(high - low) + " semitones, more than melodyc's " +
                   std::to_string(playable.highest - playable.lowest) + "; --transpose " + std::to_string(most) +
                   " fits " + std::to_string(fitting) + " of the " + std::to_string(notes.size()) + " notes";
    return result;
  } else if (shift != 0) {
    const int octaves = std::abs(shift) / 12;
    result.warnings.push_back("the notes run from " + key_name(low + key_offset) + " to " +
                              key_name(high + key_offset) + ", beyond melodyc's " + playable_text() +
                              ": the whole tune moves " + (shift > 0 ? "up " : "down ") + std::to_string(octaves) +
                              (octaves == 1 ? " octave" : " octaves") + "; --transpose N sets the shift by hand");
  }

  // Time: the note values in units. Lengths within half a percent of each
  // other are one value, so that a played (not quantised) file has a few
  // thousand values at most, whatever its length.
  std::vector<note_value> values;
  std::map<std::int64_t, std::size_t> value_at;
  std::vector<std::size_t> value_of(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const std::int64_t key = std::llround(std::log(std::max(line[i].ms, 0.001)) / std::log(1.005));
    const auto [it, fresh] = value_at.emplace(key, values.size());
    if (fresh) values.push_back({key, line[i].ms / options.unit_ms, 0, i});
    ++values[it->second].notes;
    value_of[i] = it->second;
  }
  const rhythm chosen = best_rhythm(values, INT32_MAX);
  const std::string unit_text = " of " + plain_number(options.unit_ms, 6) + " ms";
  const std::string unit = fitting_unit(values, options.unit_ms);
  if (!keeps_the_tune(chosen) && !options.approximate) {
    std::size_t worst = chosen.worst_value;
    for (std::size_t i = 0; i < chosen.values.size(); ++i) {
      if (chosen.values[i].vanishes && !chosen.values[worst].vanishes) worst = i;
    }
    const note_value &v = chosen.values[worst];
    std::string what = note_label(line[v.first], song) + " is " + fixed(v.target, 2) + " units" + unit_text + ": ";
    if (v.vanishes) {
      what += "even " + whole_percent(widest_tempo_change) + "% slower it rounds to 0 units and would not sound";
    } else {
      what += "no tempo within " + whole_percent(widest_tempo_change) + "% keeps every note within " +
              whole_percent(close_enough) + "% of its length (at the closest this one is off by " + percent(v.error) +
              ")";
    }
    what += unit.empty() ? "; no one unit fits every note"
                         : "; --unit-ms " + unit + " fits every note (play it at the same unit, as tonetool wav --unit-ms " +
                               unit + " does)";
    result.error = what + "; --approximate writes it anyway";
    return result;
  }

  // Records beyond any tune, which a file's claims of hour-long notes
  // would otherwise pile up.
  std::uint64_t records = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    records += static_cast<std::uint64_t>((chosen.values[value_of[i]].units + longest_record - 1) / longest_record);
  }
  if (records > most_midi_notes) {
    result.error = "the melody would be " + std::to_string(records) + " records, more than the " +
                   std::to_string(most_midi_notes) + " of any tune; a larger --unit-ms, or is this the right file?";
    return result;
  }

  // The base duration: the commonest value's units, within 1 to 255.
  std::size_t base_value = 0;
  for (std::size_t v = 0; v < values.size(); ++v) {
    if (values[v].notes > values[base_value].notes) base_value = v;
  }
  const int base = static_cast<int>(std::min<std::int64_t>(chosen.values[base_value].units, longest_record));
  const std::string track_name =
      options.track != 0 && !song.track_names[static_cast<std::size_t>(options.track - 1)].empty()
          ? " (" + quoted_value(song.track_names[static_cast<std::size_t>(options.track - 1)]) + ")"
          : "";
  result.melody = "% " + source + ", from tonetool from-midi: " +
                  (options.track != 0 ? "track " + std::to_string(options.track) + track_name + ", " : "") +
                  "channel " + std::to_string(channel) + ", " + std::to_string(notes.size()) +
                  (notes.size() == 1 ? " note" : " notes") + "\n";
  result.melody += "% The base duration, " + std::to_string(base) + (base == 1 ? " unit" : " units") + unit_text +
                   ", is the commonest length, " + fixed(values[base_value].target * options.unit_ms, 1) + " ms\n";
  if (shift != 0) {
    result.melody += options.transpose_given ? "% Transposed by " + std::to_string(shift) + " semitones\n"
                                             : "% Moved " + std::string(shift > 0 ? "up " : "down ") +
                                                   std::to_string(std::abs(shift) / 12) +
                                                   (std::abs(shift) == 12 ? " octave" : " octaves") +
                                                   " to fit melodyc's range\n";
  }
  result.melody += tempo_token(base) + "\n";
  std::vector<std::string> tokens;
  std::map<std::int64_t, std::string> texts;
  int off = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const line_note &n = line[i];
    const note_value &v = chosen.values[value_of[i]];
    std::string name = "P";
    if (n.key >= 0) {
      const int m = n.key - key_offset + shift;
      name = std::string(note_cell_names[m % 12]) + static_cast<char>('0' + m / 12);
    }
    append_tokens(name, v.units, base, texts, tokens);
    if (std::fabs(v.error) > close_enough && ++off <= 8) {
      result.warnings.push_back(note_label(n, song) + " is " + fixed(chosen.played * v.target, 2) + " units" +
                                unit_text + "; it gets " + std::to_string(v.units) + " (" + percent(v.error) + ")");
    }
  }
  if (off > 8) result.warnings.push_back(std::to_string(off - 8) + " more notes are off by over 10%");
  std::size_t column = 0;
  for (const std::string &t : tokens) {
    if (column > 0 && column + 1 + t.size() > 72) {
      result.melody += "\n";
      column = 0;
    }
    result.melody += (column > 0 ? " " : "") + t;
    column += (column > 0 ? 1 : 0) + t.size();
  }
  result.melody += "\n";
  if (std::fabs(chosen.played - 1) > close_enough) {
    result.warnings.push_back("the tune plays " + fixed(100 * std::fabs(chosen.played - 1), 1) +
                              (chosen.played > 1 ? "% slower" : "% faster") + " than the file at " +
                              plain_number(options.unit_ms, 6) + " ms a unit; --unit-ms " +
                              plain_number(options.unit_ms / chosen.played, 3) + " keeps the tempo");
  }
  const note_value &w = chosen.values[chosen.worst_value];
  result.summary = std::fabs(chosen.played - 1) < 0.0005
                       ? "the tune plays at the file's tempo"
                       : "the tune plays " + fixed(100 * std::fabs(chosen.played - 1), 1) +
                             (chosen.played > 1 ? "% slower" : "% faster") + " than the file";
  if (chosen.worst < 0.0005) {
    result.summary += "; every note keeps its length";
  } else {
    result.summary += "; largest rhythm error " + percent(w.error) + ": " + note_label(line[w.first], song) + ", " +
                      std::to_string(w.units) + (w.units == 1 ? " unit" : " units") + " for " +
                      fixed(chosen.played * w.target, 2);
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
    std::snprintf(line, sizeof line, "track %d, channel %d: %zu %s, %s to %s", where.first + 1, where.second + 1,
                  g.notes, g.notes == 1 ? "note" : "notes", key_name(g.low).c_str(), key_name(g.high).c_str());
    text += line;
    if (where.second == percussion) text += " (percussion)";
    if (!name.empty()) text += ", " + quoted_value(name);
    text += "\n";
  }
  return text;
}
