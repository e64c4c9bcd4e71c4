// Reading a standard MIDI file into notes per track and channel.
#include "midi_reader.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::uint32_t default_quarter_us = 500000;

// A cursor over one chunk, that refuses to run past it.
struct cursor {
  const unsigned char *data;
  std::size_t size;
  std::size_t at = 0;
  bool left() const { return at < size; }
};

bool read_byte(cursor &c, unsigned &byte) {
  if (!c.left()) return false;
  byte = c.data[c.at++];
  return true;
}

// A variable-length number: at most four bytes of seven bits.
enum class number_read { ok, truncated, too_long };
number_read read_number(cursor &c, std::uint32_t &value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    unsigned byte = 0;
    if (!read_byte(c, byte)) return number_read::truncated;
    value = value << 7 | (byte & 0x7F);
    if ((byte & 0x80) == 0) return number_read::ok;
  }
  return number_read::too_long;
}

std::uint32_t big_endian(const unsigned char *p, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

std::string at_offset(std::size_t offset) { return " (at byte " + std::to_string(offset) + ")"; }

// The events of track `index`: notes (paired on and off by channel and
// key), tempo changes and its name.
// The first tempo event that sets no tempo: where it is, and its tick.
struct ignored_tempo {
  std::string what;
  std::uint64_t tick = 0;
};

bool read_track(const unsigned char *data, std::size_t size, std::size_t base, int index, midi_song &song,
                ignored_tempo &ignored, std::string &error) {
  cursor c{data, size};
  const std::string where = "track " + std::to_string(index + 1);
  std::uint64_t tick = 0;
  unsigned running = 0;
  // Notes sounding, by channel and key: where they started, stacked.
  std::vector<std::vector<std::uint64_t>> sounding(16 * 128);
  const auto fail = [&](const std::string &what) {
    error = where + ": " + what + at_offset(base + c.at);
    return false;
  };
  const auto end_note = [&](unsigned channel, unsigned key) {
    std::vector<std::uint64_t> &starts = sounding[channel * 128 + key];
    if (starts.empty()) return true;  // an off without an on: nothing sounds
    if (song.notes.size() >= most_midi_notes) return false;
    song.notes.push_back({static_cast<std::uint16_t>(index), static_cast<std::uint8_t>(channel),
                          static_cast<std::uint8_t>(key), starts.front(), tick});
    starts.erase(starts.begin());
    return true;
  };
  song.track_names.emplace_back();
  while (c.left()) {
    std::uint32_t delta = 0;
    const number_read got = read_number(c, delta);
    if (got == number_read::too_long) return fail("a variable-length number of more than four bytes");
    if (got == number_read::truncated) return fail("the track ends inside an event");
    tick += delta;
    unsigned status = 0;
    if (!read_byte(c, status)) return fail("the track ends inside an event");
    if (status < 0x80) {
      if (running == 0) return fail("a data byte with no status before it");
      status = running;
      --c.at;  // the byte is the event's first data byte
    }
    if (status == 0xFF || status == 0xF0 || status == 0xF7) {
      running = 0;  // meta and sysex events end running status
      unsigned type = 0;
      if (status == 0xFF && !read_byte(c, type)) return fail("the track ends inside an event");
      std::uint32_t length = 0;
      const number_read length_read = read_number(c, length);
      if (length_read == number_read::too_long) return fail("a variable-length number of more than four bytes");
      if (length_read == number_read::truncated || length > size - c.at) return fail("an event runs past the track's end");
      const unsigned char *payload = data + c.at;
      c.at += length;
      if (status != 0xFF) continue;
      if (type == 0x2F) break;  // end of track
      if (type == 0x51) {
        const std::uint32_t quarter = length == 3 ? big_endian(payload, 3) : 0;
        if (quarter > 0) {
          song.tempos.push_back({tick, quarter, 0, static_cast<std::uint16_t>(index)});
        } else if (ignored.what.empty()) {
          // The tempo in force there is known once every track is read.
          ignored.what = where + ": a tempo event " +
                         (length == 3 ? std::string("of 0 microseconds a quarter note")
                                      : "of " + std::to_string(length) + (length == 1 ? " byte" : " bytes") + ", not 3") +
                         at_offset(base + c.at - length) + " is ignored;";
          ignored.tick = tick;
        }
      } else if (type == 0x03 && song.track_names.back().empty()) {
        song.track_names.back().assign(reinterpret_cast<const char *>(payload), length);
      }
      continue;
    }
    if (status >= 0xF0) return fail("an event of status " + std::to_string(status) + ", which no MIDI file holds");
    running = status;
    const unsigned kind = status & 0xF0, channel = status & 0x0F;
    const int data_bytes = kind == 0xC0 || kind == 0xD0 ? 1 : 2;
    unsigned first = 0, second = 0;
    if (!read_byte(c, first) || (data_bytes == 2 && !read_byte(c, second))) {
      return fail("the track ends inside an event");
    }
    if (first >= 0x80 || second >= 0x80) return fail("a data byte of 128 or more");
    const bool on = kind == 0x90 && second > 0;
    const bool off = kind == 0x80 || (kind == 0x90 && second == 0);
    if (off || on) {
      // A note struck again while it sounds ends there first.
      if (!end_note(channel, first)) {
        error = "more than " + std::to_string(most_midi_notes) + " notes; is this the right file?";
        return false;
      }
    }
    if (on) sounding[channel * 128 + first].push_back(tick);
  }
  song.track_ends.push_back(tick);
  // Notes still sounding end with the track.
  for (unsigned channel = 0; channel < 16; ++channel) {
    for (unsigned key = 0; key < 128; ++key) {
      while (!sounding[channel * 128 + key].empty()) {
        if (!end_note(channel, key)) {
          error = "more than " + std::to_string(most_midi_notes) + " notes; is this the right file?";
          return false;
        }
      }
    }
  }
  return true;
}

// Sorts the tempo changes and works out the time at each, so that any
// tick's time is one search away.
void time_tempo_map(midi_song &song) {
  std::stable_sort(song.tempos.begin(), song.tempos.end(),
                   [](const midi_tempo &a, const midi_tempo &b) { return a.tick < b.tick; });
  double seconds = 0;
  std::uint64_t from = 0;
  std::uint32_t quarter = default_quarter_us;
  for (midi_tempo &t : song.tempos) {
    if (song.ticks_per_quarter > 0) {
      seconds += static_cast<double>(t.tick - from) * quarter / 1e6 / song.ticks_per_quarter;
    }
    t.seconds = seconds;
    from = t.tick;
    quarter = t.quarter_us;
  }
}

}  // namespace

bool read_midi(const std::string &bytes, midi_song &song, std::string &error) {
  song = midi_song{};
  const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
  const std::size_t size = bytes.size();
  if (size < 14 || bytes.compare(0, 4, "MThd") != 0) {
    error = size < 4 || bytes.compare(0, 4, "MThd") != 0 ? "not a standard MIDI file (it does not start with MThd)"
                                                          : "the file ends inside its header";
    return false;
  }
  const std::uint32_t header_length = big_endian(data + 4, 4);
  if (header_length < 6 || header_length > size - 8) {
    error = "the header's length " + std::to_string(header_length) + " does not fit the file";
    return false;
  }
  song.format = static_cast<int>(big_endian(data + 8, 2));
  song.tracks = static_cast<int>(big_endian(data + 10, 2));
  const std::uint32_t division = big_endian(data + 12, 2);
  if (song.format > 2) {
    error = "format " + std::to_string(song.format) + " is no MIDI file format (0, 1 or 2)";
    return false;
  }
  if (division & 0x8000) {
    const int frames = 256 - static_cast<int>(division >> 8);
    const int ticks = static_cast<int>(division & 0xFF);
    if ((frames != 24 && frames != 25 && frames != 29 && frames != 30) || ticks == 0) {
      error = "an SMPTE time division of " + std::to_string(frames) + " frames a second and " + std::to_string(ticks) +
              " ticks a frame, which MIDI does not define";
      return false;
    }
    song.ticks_per_second = (frames == 29 ? 29.97 : frames) * ticks;
  } else if (division == 0) {
    error = "a time division of 0 ticks a quarter note";
    return false;
  } else {
    song.ticks_per_quarter = static_cast<int>(division);
  }
  std::size_t at = 8 + header_length;
  int read_tracks = 0;
  ignored_tempo ignored;
  while (at + 8 <= size && read_tracks < song.tracks) {
    const std::uint32_t length = big_endian(data + at + 4, 4);
    if (length > size - at - 8) {
      error = "track " + std::to_string(read_tracks + 1) + "'s length " + std::to_string(length) +
              " runs past the end of the file" + at_offset(at);
      return false;
    }
    if (bytes.compare(at, 4, "MTrk") == 0) {
      if (!read_track(data + at + 8, length, at + 8, read_tracks, song, ignored, error)) return false;
      ++read_tracks;
    }
    at += 8 + length;  // other chunks are skipped by their lengths
  }
  if (read_tracks < song.tracks) {
    error = "the file ends after " + std::to_string(read_tracks) + " of its " + std::to_string(song.tracks) +
            " tracks";
    return false;
  }
  std::stable_sort(song.notes.begin(), song.notes.end(), [](const midi_note &a, const midi_note &b) {
    return a.start != b.start ? a.start < b.start : a.track < b.track;
  });
  time_tempo_map(song);
  // An ignored tempo event's warning says which tempo plays on there.
  if (!ignored.what.empty() && song.ticks_per_quarter > 0) {
    std::uint32_t in_force = default_quarter_us;
    for (const midi_tempo &t : song.tempos) {
      if (t.tick <= ignored.tick) in_force = t.quarter_us;
    }
    char tempo[96];
    std::snprintf(tempo, sizeof tempo, " the tempo stays at %u microseconds a quarter note (%.4g quarter notes a minute)",
                  in_force, 60e6 / in_force);
    song.warnings.push_back(ignored.what + tempo);
  } else if (!ignored.what.empty()) {
    song.warnings.push_back(ignored.what + " the file's time is SMPTE frames, which no tempo changes");
  }
  return true;
}

double midi_seconds(const midi_song &song, std::uint64_t tick) {
  if (song.ticks_per_quarter == 0) return static_cast<double>(tick) / song.ticks_per_second;
  // The last change at or before the tick.
  const auto after = std::upper_bound(song.tempos.begin(), song.tempos.end(), tick,
                                      [](std::uint64_t t, const midi_tempo &m) { return t < m.tick; });
  if (after == song.tempos.begin()) {
    return static_cast<double>(tick) * default_quarter_us / 1e6 / song.ticks_per_quarter;
  }
  const midi_tempo &t = *(after - 1);
  return t.seconds + static_cast<double>(tick - t.tick) * t.quarter_us / 1e6 / song.ticks_per_quarter;
}

midi_song midi_sequence(const midi_song &song, int track) {
  midi_song sequence;
  sequence.format = 2;
  sequence.tracks = song.tracks;
  sequence.ticks_per_quarter = song.ticks_per_quarter;
  sequence.ticks_per_second = song.ticks_per_second;
  sequence.track_names = song.track_names;
  sequence.track_ends = song.track_ends;
  for (const midi_note &n : song.notes) {
    if (n.track == track) sequence.notes.push_back(n);
  }
  for (const midi_tempo &t : song.tempos) {
    if (t.track == track) sequence.tempos.push_back(t);
  }
  time_tempo_map(sequence);
  return sequence;
}
