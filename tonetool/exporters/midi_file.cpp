// Tone records as a standard MIDI file.
#include "midi_file.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "note_table.h"

namespace {

// A quarter note is divided into about this many ticks, so that editors
// see fine timing; a unit is always a whole number of ticks.
constexpr int target_division = 480;
constexpr std::uint32_t longest_delta = 0x0FFFFFFF;  // 28 bits of a variable-length number
constexpr std::uint32_t longest_quarter_us = 0xFFFFFF;
constexpr unsigned char velocity = 100;
constexpr unsigned char square_lead_program = 80;  // General MIDI "Lead 1 (square)"

void put_be(std::string &out, std::uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void put_variable(std::string &out, std::uint32_t value) {
  char groups[4];
  int n = 0;
  do {
    groups[n++] = static_cast<char>(value & 0x7F);
    value >>= 7;
  } while (value != 0);
  while (n > 1) out += static_cast<char>(groups[--n] | 0x80);
  out += groups[0];
}

// Writes `delta` ticks before the next event; past what one number holds,
// empty text events carry the rest.
void put_delta(std::string &track, std::uint64_t delta) {
  while (delta > longest_delta) {
    put_variable(track, longest_delta);
    track += "\xFF\x01";
    track += '\0';
    delta -= longest_delta;
  }
  put_variable(track, static_cast<std::uint32_t>(delta));
}

// The duration most tones have: the likeliest beat.
int commonest_duration(const std::vector<tone> &tones) {
  std::array<std::size_t, 256> count{};
  for (const tone &t : tones) ++count[t.duration];
  int best = 0;  // ties go to the shorter duration
  for (int d = 1; d < 256; ++d) {
    if (count[static_cast<std::size_t>(d)] > (best == 0 ? 0 : count[static_cast<std::size_t>(best)])) best = d;
  }
  return best == 0 ? 1 : best;
}

}  // namespace

int midi_note_for_period(std::uint16_t period) {
  if (period == 0) return -1;
  const double frequency = static_cast<double>(reference_clock_hz) / period;
  const long number = std::lround(69.0 + 12.0 * std::log2(frequency / 440.0));
  return number >= 0 && number <= 127 ? static_cast<int>(number) : -1;
}

namespace {

// The file's time base: a quarter note of `quarter_us` microseconds,
// divided into `division` ticks, and a unit of `ticks_per_unit` ticks.
struct midi_timing {
  std::uint32_t quarter_us = 0;
  int division = 0;
  int ticks_per_unit = 0;
  int beat = 0;  // units a quarter note, or 0 when a unit holds several
};

std::string unit_words(int units, double unit_ms) {
  char text[96];
  std::snprintf(text, sizeof text, "%d unit%s of %g ms", units, units == 1 ? "" : "s", unit_ms);
  return text;
}

// A quarter note of `beat` units where MIDI's tempo field (1 us to
// 16.777 s) holds it; a guessed beat gives way to one that fits, and a unit
// longer than MIDI's longest quarter note is written as several quarters.
bool choose_timing(const std::vector<tone> &tones, const midi_settings &settings, midi_timing &timing,
                   std::string &error) {
  const double unit_us = settings.unit_ms * 1000.0;
  const bool by_hand = settings.beat_units > 0;
  int beat = by_hand ? settings.beat_units : commonest_duration(tones);
  const double longest_beat = std::floor(longest_quarter_us / unit_us);
  const double shortest_beat = std::ceil(1.0 / unit_us);
  if (!by_hand && longest_beat < 1) {
    // Quarters shorter than a unit: the unit is `parts` quarter notes.
    const int parts = static_cast<int>(std::ceil(unit_us / longest_quarter_us));
    timing = {static_cast<std::uint32_t>(std::lround(unit_us / parts)), target_division,
              target_division * parts, 0};
    return true;
  }
  if (!by_hand) beat = static_cast<int>(std::clamp<double>(beat, std::min(shortest_beat, 255.0), longest_beat));
  const double quarter_us = std::round(beat * unit_us);
  if (quarter_us > longest_quarter_us) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", quarter_us / 1e6);
    error = "a quarter note of " + unit_words(beat, settings.unit_ms) + " is " + seconds +
            " s; MIDI holds up to 16.777 s (" +
            (longest_beat >= 1 ? "give --beat " + std::to_string(static_cast<int>(longest_beat)) + " or fewer"
                               : std::string("leave out --beat: a unit this long is written as several quarter notes")) +
            ")";
    return false;
  }
  if (quarter_us < 1) {
    error = "a quarter note of " + unit_words(beat, settings.unit_ms) + " is under the 1 us MIDI holds (" +
            (shortest_beat <= 255 ? "give --beat " + std::to_string(static_cast<int>(shortest_beat)) + " or more"
                                  : std::string("the unit is too short for MIDI: use --unit-ms 0.004 or more")) +
            ")";
    return false;
  }
  const int ticks_per_unit = std::max(1, target_division / beat);
  timing = {static_cast<std::uint32_t>(quarter_us), beat * ticks_per_unit, ticks_per_unit, beat};
  return true;
}

}  // namespace

midi_result make_midi(const std::vector<tone> &tones, const midi_settings &settings) {
  midi_result result;
  midi_timing timing;
  if (!choose_timing(tones, settings, timing, result.error)) return result;
  const int ticks_per_unit = timing.ticks_per_unit;
  std::string track;
  put_delta(track, 0);
  track += "\xFF\x51\x03";
  put_be(track, timing.quarter_us, 3);
  put_delta(track, 0);
  track += '\xC0';
  track += static_cast<char>(square_lead_program);

  std::uint64_t rest = 0;  // ticks since the last event
  for (std::size_t i = 0; i < tones.size(); ++i) {
    const tone &t = tones[i];
    const std::uint64_t ticks = static_cast<std::uint64_t>(t.duration) * static_cast<unsigned>(ticks_per_unit);
    if (t.period == 0) {
      rest += ticks;
      continue;
    }
    if (t.duration == 0) continue;  // sounds for no time at all
    const int number = midi_note_for_period(t.period);
    if (number < 0) {
      char text[200];
      std::snprintf(text, sizeof text,
                    "record %zu: period %u is %.0f Hz, above MIDI's highest note G9 (12544 Hz); "
                    "MIDI notes need a period of 117 or more",
                    i, static_cast<unsigned>(t.period), static_cast<double>(reference_clock_hz) / t.period);
      result.error = text;
      return result;
    }
    put_delta(track, rest);
    track += '\x90';
    track += static_cast<char>(number);
    track += static_cast<char>(velocity);
    put_delta(track, ticks);
    track += '\x80';
    track += static_cast<char>(number);
    track += '\x40';
    rest = 0;
  }
  put_delta(track, rest);  // a closing rest keeps its length
  track += "\xFF\x2F";
  track += '\0';
  if (track.size() > 0xFFFFFFFFu) {
    result.error = "the track would exceed the 4 GiB a MIDI track holds";
    return result;
  }
  result.bytes = "MThd";
  put_be(result.bytes, 6, 4);
  put_be(result.bytes, 0, 2);  // format 0
  put_be(result.bytes, 1, 2);  // one track
  put_be(result.bytes, static_cast<std::uint32_t>(timing.division), 2);
  result.bytes += "MTrk";
  put_be(result.bytes, static_cast<std::uint32_t>(track.size()), 4);
  result.bytes += track;
  result.ok = true;
  return result;
}
