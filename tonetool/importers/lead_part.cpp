// Which part of a MIDI file is the tune, and the tune inside a part of
// several voices.
#include "lead_part.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>

namespace {

constexpr int percussion = 9;  // General MIDI's channel 10

// Whether a track's name says it holds the tune.
bool names_the_tune(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
  for (const char *word : {"melody", "lead", "vocal", "voice", "solo", "tune"}) {
    if (name.find(word) != std::string::npos) return true;
  }
  return false;
}

// Onsets this close are one chord: a 64th note, or 30 ms in SMPTE time.
std::uint64_t chord_ticks(const midi_song &song) {
  if (song.ticks_per_quarter > 0) return static_cast<std::uint64_t>(std::max(1, song.ticks_per_quarter / 16));
  return static_cast<std::uint64_t>(std::max(1.0, song.ticks_per_second * 0.03));
}

// How long each channel holds the highest sounding note (the skyline).
std::map<int, double> time_on_top(const std::vector<midi_note> &notes) {
  struct event {
    std::uint64_t tick;
    bool on;
    int key, channel;
  };
  std::vector<event> events;
  for (const midi_note &n : notes) {
    events.push_back({n.start, true, n.key, n.channel});
    events.push_back({n.end, false, n.key, n.channel});
  }
  std::sort(events.begin(), events.end(),
            [](const event &a, const event &b) { return a.tick != b.tick ? a.tick < b.tick : !a.on && b.on; });
  std::map<int, double> on_top;
  std::multiset<std::pair<int, int>> sounding;  // key, channel
  std::uint64_t previous = 0;
  for (const event &e : events) {
    if (!sounding.empty()) on_top[sounding.rbegin()->second] += static_cast<double>(e.tick - previous);
    previous = e.tick;
    if (e.on) {
      sounding.insert({e.key, e.channel});
    } else if (const auto it = sounding.find({e.key, e.channel}); it != sounding.end()) {
      sounding.erase(it);
    }
  }
  return on_top;
}

// The top key of each chord of a part's notes (in order of start).
std::vector<int> top_line(const std::vector<midi_note> &notes, std::uint64_t chord) {
  std::vector<int> line;
  std::uint64_t chord_start = 0;
  for (std::size_t i = 0; i < notes.size(); ++i) {
    if (i > 0 && notes[i].start <= chord_start + chord) {
      line.back() = std::max(line.back(), static_cast<int>(notes[i].key));
      continue;
    }
    chord_start = notes[i].start;
    line.push_back(notes[i].key);
  }
  return line;
}

part_score score_part(int channel, const std::vector<midi_note> &part, const midi_song &song, std::uint64_t song_first,
                      std::uint64_t song_last, std::uint64_t chord) {
  part_score s;
  s.channel = channel;
  const std::vector<int> line = top_line(part, chord);
  s.notes = line.size();
  // A note starts alone when no other of the part starts with it and none
  // still sounds (past a 32nd, which legato playing overlaps by). Grace
  // notes, no longer than a 32nd, are ornaments of a line, not a second
  // voice: they are not counted.
  std::vector<const midi_note *> counted;
  for (const midi_note &n : part) {
    if (n.end - n.start > 2 * chord) counted.push_back(&n);
  }
  std::size_t alone = 0;
  std::uint64_t sounding_until = 0;
  for (std::size_t i = 0; i < counted.size(); ++i) {
    const midi_note &n = *counted[i];
    const bool with_previous = i > 0 && n.start <= counted[i - 1]->start + chord;
    const bool with_next = i + 1 < counted.size() && counted[i + 1]->start <= n.start + chord;
    const bool over = sounding_until > n.start + 2 * chord;
    alone += !with_previous && !with_next && !over;
    sounding_until = std::max(sounding_until, n.end);
  }
  s.monophony = counted.empty() ? 1 : static_cast<double>(alone) / static_cast<double>(counted.size());
  const std::uint64_t first = part.front().start;
  std::uint64_t last = 0;
  for (const midi_note &n : part) last = std::max(last, n.end);
  s.spread = song_last > song_first ? static_cast<double>(last - first) / static_cast<double>(song_last - song_first) : 1;
  std::vector<int> keys = line;
  std::nth_element(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(keys.size() / 2), keys.end());
  const int middle = keys[keys.size() / 2];
  const int away = middle < 57 ? 57 - middle : middle > 84 ? middle - 84 : 0;
  s.register_fit = std::max(0.2, 1.0 - away / 24.0);
  std::size_t steps = 0;
  for (std::size_t i = 1; i < line.size(); ++i) steps += std::abs(line[i] - line[i - 1]) <= 2;
  s.stepwise = line.size() > 1 ? static_cast<double>(steps) / static_cast<double>(line.size() - 1) : 0;
  for (const midi_note &n : part) s.named = s.named || names_the_tune(song.track_names[n.track]);
  return s;
}

}  // namespace

std::vector<part_score> score_parts(const midi_song &song, const std::vector<midi_note> &notes) {
  const std::uint64_t chord = chord_ticks(song);
  std::map<int, std::vector<midi_note>> parts;
  std::uint64_t song_first = UINT64_MAX, song_last = 0;
  for (const midi_note &n : notes) {
    if (n.channel == percussion) continue;
    parts[n.channel].push_back(n);
    song_first = std::min(song_first, n.start);
    song_last = std::max(song_last, n.end);
  }
  const std::map<int, double> on_top = time_on_top(notes);
  double sounding = 0;
  for (const auto &[channel, time] : on_top) sounding += time;
  std::vector<part_score> scores;
  for (auto &[channel, part] : parts) {
    std::stable_sort(part.begin(), part.end(), [](const midi_note &a, const midi_note &b) {
      return a.start != b.start ? a.start < b.start : a.key > b.key;
    });
    part_score s = score_part(channel, part, song, song_first, song_last, chord);
    const auto top = on_top.find(channel);
    s.on_top = top == on_top.end() || sounding == 0 ? 0 : top->second / sounding;
    s.score = static_cast<double>(s.notes) * std::pow(s.monophony, 3) * s.register_fit * (0.5 + 0.5 * s.stepwise) *
              (0.5 + 0.5 * s.spread) * (1 + 0.3 * s.on_top) * (s.named ? 1.3 : 1.0);
    scores.push_back(s);
  }
  // Equal scores go to the part more often on top, then the higher one:
  // what the music says, never the channel's number.
  std::stable_sort(scores.begin(), scores.end(), [](const part_score &a, const part_score &b) {
    if (a.score != b.score) return a.score > b.score;
    if (a.on_top != b.on_top) return a.on_top > b.on_top;
    return a.notes > b.notes;
  });
  return scores;
}

namespace {

// What a move of the melody from `from` to `to` costs: steps are free,
// leaps dearer the wider they are.
double leap_cost(int from, int to) {
  const int d = std::abs(to - from);
  if (d <= 2) return 0;
  if (d <= 5) return 0.1 * (d - 2);
  if (d <= 9) return 0.3 + 0.2 * (d - 5);
  return 1.1 + 0.4 * (d - 9);
}

}  // namespace

std::vector<midi_note> melody_voice(const std::vector<midi_note> &given, int ticks_per_quarter) {
  std::vector<midi_note> all = given;
  std::stable_sort(all.begin(), all.end(), [](const midi_note &a, const midi_note &b) {
    return a.start != b.start ? a.start < b.start : a.key > b.key;
  });
  if (all.empty()) return all;
  const auto chord = static_cast<std::uint64_t>(std::max(1, ticks_per_quarter / 16));
  // Chords (onsets within `chord` of the first), and of each the highest
  // few notes, the only ones a tune is looked for among: so the work stays
  // in proportion to the notes, however thick the chords.
  constexpr std::size_t highest_of_a_chord = 8;
  std::vector<midi_note> notes;
  std::vector<std::size_t> group, group_first;
  for (std::size_t i = 0; i < all.size();) {
    std::size_t j = i + 1;
    while (j < all.size() && all[j].start <= all[i].start + chord) ++j;
    std::vector<midi_note> members(all.begin() + static_cast<std::ptrdiff_t>(i), all.begin() + static_cast<std::ptrdiff_t>(j));
    std::stable_sort(members.begin(), members.end(), [](const midi_note &a, const midi_note &b) { return a.key > b.key; });
    if (members.size() > highest_of_a_chord) members.resize(highest_of_a_chord);
    group_first.push_back(notes.size());
    for (const midi_note &m : members) {
      notes.push_back(m);
      group.push_back(group_first.size() - 1);
    }
    i = j;
  }
  const std::size_t n = notes.size(), groups = group_first.size();
  const auto group_end = [&](std::size_t g) { return g + 1 < groups ? group_first[g + 1] : n; };
  std::vector<std::uint64_t> onset(groups);
  std::vector<int> group_top(groups);
  for (std::size_t g = 0; g < groups; ++g) {
    onset[g] = notes[group_first[g]].start;
    group_top[g] = notes[group_first[g]].key;
    for (std::size_t x = group_first[g]; x < group_end(g); ++x) onset[g] = std::min(onset[g], notes[x].start);
  }
  // The cheapest melody that takes note x last: every note taken earns
  // its keep; a note below the top of its chord, a leap, a held melody
  // note cut by a note below it, and onsets where the melody neither
  // sounds nor moves cost.
  constexpr double taken = -1.0, per_semitone_below = 0.1, in_block = 1.5, in_chords = 0.9, cut_below = 1.5,
                   cut_above = 0.6, silent_onset = 0.4, restart = 2.0;
  // A note struck and released with two others of its chord is part of a
  // block chord: accompaniment, more likely than a tune. A block chord
  // beside a note of its own (a tune over an accompaniment) weighs more
  // than one in music of nothing but chords (a hymn), whose tune is the
  // top of its chords.
  std::vector<bool> block(n, false), loose(groups, false);
  for (std::size_t g = 0; g < groups; ++g) {
    for (std::size_t x = group_first[g]; x < group_end(g); ++x) {
      std::size_t together = 0;
      for (std::size_t y = group_first[g]; y < group_end(g); ++y) {
        const std::uint64_t apart = notes[x].end > notes[y].end ? notes[x].end - notes[y].end : notes[y].end - notes[x].end;
        together += y != x && apart <= 2 * chord;
      }
      block[x] = together >= 2;
    }
    // A note below a block chord's top is measured from the top of the
    // notes that are not in one.
    int top = -1;
    for (std::size_t x = group_first[g]; x < group_end(g); ++x) {
      if (!block[x]) top = std::max(top, static_cast<int>(notes[x].key));
    }
    if (top >= 0) group_top[g] = top;
    loose[g] = top >= 0;
  }
  // For each note, the first later chord it no longer sounds over.
  std::vector<std::size_t> silent_from(n);
  for (std::size_t y = 0; y < n; ++y) {
    const auto after = onset.begin() + static_cast<std::ptrdiff_t>(group[y] + 1);
    silent_from[y] = static_cast<std::size_t>(
        std::lower_bound(after, onset.end(), notes[y].end, [&](std::uint64_t o, std::uint64_t end) { return o + chord < end; }) -
        onset.begin());
  }
  constexpr std::size_t window = 24;
  std::vector<double> cost(n, 0);
  std::vector<std::ptrdiff_t> before(n, -1);
  std::vector<double> best_by_group(groups, 0);  // the cheapest melody ending in each group
  std::vector<std::ptrdiff_t> best_note(groups, -1);
  double earlier = 0;  // the cheapest melody ending a window or more before the current chord
  std::ptrdiff_t earlier_note = -1;
  std::size_t counted = 0;  // chords taken into `earlier`
  for (std::size_t x = 0; x < n; ++x) {
    const std::size_t g = group[x];
    for (; counted + window <= g; ++counted) {
      if (best_note[counted] >= 0 && best_by_group[counted] < earlier) {
        earlier = best_by_group[counted];
        earlier_note = best_note[counted];
      }
    }
    const double own = taken + per_semitone_below * std::max(0, group_top[g] - notes[x].key) +
                       (block[x] ? (loose[g] ? in_block : in_chords) : 0);
    // From the start, or after a long silence.
    double best = 0;
    std::ptrdiff_t from = -1;
    if (earlier_note >= 0 && earlier + restart < best) {
      best = earlier + restart;
      from = earlier_note;
    }
    // From a note of one of the chords just before.
    for (std::size_t back = 1; back <= window && back <= g; ++back) {
      const std::size_t h = g - back;
      for (std::size_t y = group_first[h]; y < group_end(h); ++y) {
        double c = cost[y] + leap_cost(notes[y].key, notes[x].key);
        // The chords between: free while y sounds over them.
        if (silent_from[y] < g) c += silent_onset * static_cast<double>(g - silent_from[y]);
        if (notes[y].end > notes[x].start + 2 * chord) c += notes[x].key < notes[y].key ? cut_below : cut_above;
        if (c < best - 1e-9) {
          best = c;
          from = static_cast<std::ptrdiff_t>(y);
        }
      }
    }
    cost[x] = best + own;
    before[x] = from;
    if (best_note[g] < 0 || cost[x] < best_by_group[g]) {
      best_by_group[g] = cost[x];
      best_note[g] = static_cast<std::ptrdiff_t>(x);
    }
  }
  // The cheapest melody; of equals, the one ending higher.
  std::size_t last = 0;
  for (std::size_t x = 1; x < n; ++x) {
    if (cost[x] < cost[last] - 1e-9 || (cost[x] < cost[last] + 1e-9 && notes[x].key > notes[last].key)) last = x;
  }
  std::vector<midi_note> melody;
  for (std::ptrdiff_t x = static_cast<std::ptrdiff_t>(last); x >= 0; x = before[static_cast<std::size_t>(x)]) {
    melody.push_back(notes[static_cast<std::size_t>(x)]);
  }
  std::reverse(melody.begin(), melody.end());
  std::stable_sort(melody.begin(), melody.end(), [](const midi_note &a, const midi_note &b) { return a.start < b.start; });
  return melody;
}

std::string describe_parts(const std::vector<part_score> &parts) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const part_score &p = parts[i];
    char line[200];
    std::snprintf(line, sizeof line,
                  "  channel %d: score %.2f (%zu %s, %.0f%% one at a time, %.0f%% stepwise, on top %.0f%%%s)",
                  p.channel + 1, parts[0].score > 0 ? p.score / parts[0].score : 0, p.notes,
                  p.notes == 1 ? "note" : "notes", 100 * p.monophony,
                  100 * p.stepwise, 100 * p.on_top, p.named ? ", named as the tune" : "");
    text += line;
    if (i == 0) {
      text += p.monophony >= monophonic_enough ? ", the melody" : ", the melody: its upper voice, taken by continuity";
    }
    text += "\n";
  }
  return text;
}
