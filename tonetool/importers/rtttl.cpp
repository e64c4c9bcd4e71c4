// Reading an RTTTL ringtone into notes, with the place of every problem.
#include "rtttl.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <optional>

#include "message_text.h"
#include "note_rules.h"
#include "note_table.h"
#include "rhythm.h"
#include "tune_writer.h"

namespace {

// Playable notes as semitones from melodyc's C0, from melodyc's own table.
const int lowest_playable = playable_notes().lowest;
const int highest_playable = playable_notes().highest;
// Ringtone octave 4 is melodyc's octave 1.
constexpr int octave_offset = 3;
constexpr std::size_t kept_messages = 1000;

const char ringtone_note_form[] = "a note reads [LENGTH]LETTER[#][OCTAVE][.], as in 8c#6 or 4p";
const char ringtone_form[] = "a ringtone reads NAME:d=4,o=6,b=63:NOTES";

struct rtttl_note {
  std::size_t offset;  // of the token in the text
  std::string token;   // as written
  int length;          // 1, 2, 4, ... 32: a 1/length note
  bool dotted;
  bool pause;
  int semitone;  // ringtone octave * 12 + cell, for a note
};

struct item {
  std::size_t offset;
  std::string_view text;  // without the white space around it
};

// The character at t[i] quoted for a message: the whole UTF-8 character
// where one starts there, else the byte.
std::string character_at(std::string_view t, std::size_t i) {
  return quoted_value(std::string(t.substr(i, std::max<std::size_t>(1, utf8_length(t, i)))));
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The comma-separated items of text[begin, end), trimmed.
std::vector<item> split_items(std::string_view text, std::size_t begin, std::size_t end) {
  std::vector<item> items;
  std::size_t start = begin;
  for (std::size_t i = begin; i <= end; ++i) {
    if (i < end && text[i] != ',') continue;
    std::size_t a = start, b = i;
    while (a < b && is_space(text[a])) ++a;
    while (b > a && is_space(text[b - 1])) --b;
    items.push_back({a, text.substr(a, b - a)});
    start = i + 1;
  }
  return items;
}

bool is_length(int value) {
  return value == 1 || value == 2 || value == 4 || value == 8 || value == 16 || value == 32;
}

const char *length_word(int length) {
  switch (length) {
    case 1: return "whole";
    case 2: return "half";
    case 4: return "quarter";
    case 8: return "8th";
    case 16: return "16th";
    default: return "32nd";
  }
}


class converter {
 public:
  converter(std::string_view text, const rtttl_options &options) : text_(text), options_(options) {
    line_starts_.push_back(0);
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') line_starts_.push_back(i + 1);
    }
  }

  rtttl_conversion convert();

 private:
  // Keeps the first messages; a flood of them is only counted.
  void report(bool error, std::size_t offset, std::string message) {
    ++(error ? errors_ : warnings_);
    if (pending_.size() < kept_messages) pending_.push_back({offset, error, std::move(message)});
  }
  void parse_defaults(std::size_t begin, std::size_t end);
  void parse_notes(std::size_t begin, std::size_t end);
  std::optional<rtttl_note> parse_note(const item &it, int number);
  void write_melody();
  std::vector<tune_note> tune_notes(double default_units) const;
  std::string describe_base(const note_value &value, int base, const std::string &unit_text) const;
  double grid_ms(double whole_ms) const;
  std::string note_label(std::size_t index) const {
    return "note " + std::to_string(index + 1) + " " + quoted_value(notes_[index].token);
  }

  struct pending {
    std::size_t offset;
    bool error;
    std::string text;
  };

  std::string_view text_;
  rtttl_options options_;
  std::vector<std::size_t> line_starts_;
  std::vector<pending> pending_;
  int errors_ = 0, warnings_ = 0;
  std::string name_;
  int length_ = 4, octave_ = 6, beats_ = 63;
  bool underscore_seen_ = false;
  std::vector<rtttl_note> notes_;
  std::size_t notes_offset_ = 0, defaults_offset_ = 0;
  std::string melody_, summary_;
};

void converter::parse_defaults(std::size_t begin, std::size_t end) {
  const std::vector<item> items = split_items(text_, begin, end);
  bool seen[3] = {false, false, false};
  for (std::size_t i = 0; i < items.size(); ++i) {
    const item &it = items[i];
    if (it.text.empty()) {
      if (items.size() > 1 && i + 1 < items.size()) report(true, it.offset, "empty default between commas");
      continue;
    }
    const std::string shown = quoted_value(std::string(it.text));
    const auto equals = it.text.find('=');
    if (equals == std::string_view::npos) {
      report(true, it.offset, "default " + shown + " is not KEY=VALUE, as in d=4, o=6 or b=63");
      continue;
    }
    std::string key(it.text.substr(0, equals));
    while (!key.empty() && is_space(key.back())) key.pop_back();
    std::string_view value = it.text.substr(equals + 1);
    while (!value.empty() && is_space(value.front())) value.remove_prefix(1);
    std::transform(key.begin(), key.end(), key.begin(), lower);
    const int which = key == "d" ? 0 : key == "o" ? 1 : key == "b" ? 2 : -1;
    if (which < 0) {
      report(false, it.offset, "default " + shown + " ignored: only d (length), o (octave) and b (tempo) are used");
      continue;
    }
    if (seen[which]) {
      report(true, it.offset, "default " + shown + ": " + key + " is given twice");
      continue;
    }
    seen[which] = true;
    const bool digits = !value.empty() && value.size() <= 4 &&
                        std::all_of(value.begin(), value.end(), is_digit);
    const int number = digits ? std::stoi(std::string(value)) : -1;
    if (which == 0) {
      if (!is_length(number)) {
        report(true, it.offset, "default " + shown + ": the length is 1, 2, 4, 8, 16 or 32 (a 1/d note)");
      } else {
        length_ = number;
      }
    } else if (which == 1) {
      if (!digits || number > 9) {
        report(true, it.offset, "default " + shown + ": the octave is a digit, 4 to 7 in most ringtones");
      } else {
        octave_ = number;
      }
    } else if (number < 1 || number > 900) {
      report(true, it.offset, "default " + shown + ": the tempo is 1 to 900 quarter notes a minute");
    } else {
      beats_ = number;
    }
  }
}

std::optional<rtttl_note> converter::parse_note(const item &it, int number) {
  const std::string_view t = it.text;
  // Built only for a message: most notes have none.
  const auto label = [&] { return "note " + std::to_string(number) + " " + quoted_value(std::string(t)); };
  rtttl_note note{it.offset, std::string(t), length_, false, false, 0};
  std::size_t i = 0;
  while (i < t.size() && is_digit(t[i])) ++i;
  if (i > 0) {
    const int value = i <= 2 ? std::stoi(std::string(t.substr(0, i))) : 0;
    if (!is_length(value)) {
      report(true, it.offset, label() + ": the length is 1, 2, 4, 8, 16 or 32 (a 1/length note)");
      return std::nullopt;
    }
    note.length = value;
  }
  if (i == t.size()) {
    report(true, it.offset + i, label() + ": no note letter; " + ringtone_note_form);
    return std::nullopt;
  }
  static const int cells[] = {9, 11, 0, 2, 4, 5, 7, 11};  // a b c d e f g h
  const char letter = lower(t[i]);
  if (letter == 'p') {
    note.pause = true;
  } else if (letter >= 'a' && letter <= 'h') {
    note.semitone = cells[letter - 'a'];
  } else {
    report(true, it.offset + i,
           label() + ": " + character_at(t, i) + " is not a note letter: a to g, h (B) or p (pause)");
    return std::nullopt;
  }
  ++i;
  if (i < t.size() && (t[i] == '#' || t[i] == '_')) {
    if (note.pause) {
      report(true, it.offset + i, label() + ": a pause has no sharp");
      return std::nullopt;
    }
    // Many collections write a sharp as '_' (8d_5), and players read it so.
    if (t[i] == '_' && !underscore_seen_) {
      underscore_seen_ = true;
      report(false, it.offset + i, label() + ": '_' is read as a sharp, as ringtone players read it; '#' is the usual sign");
    }
    ++note.semitone;
    ++i;
  }
  int octave = octave_;
  bool octave_given = false;
  for (; i < t.size(); ++i) {
    if (t[i] == '.' && !note.dotted) {
      note.dotted = true;
    } else if (is_digit(t[i]) && !octave_given) {
      octave = t[i] - '0';
      octave_given = true;
    } else {
      const std::string what = t[i] == '.' ? "a second dot" : character_at(t, i);
      report(true, it.offset + i, label() + ": unexpected " + what + "; " + ringtone_note_form);
      return std::nullopt;
    }
  }
  note.semitone += 12 * octave;
  return note;
}

void converter::parse_notes(std::size_t begin, std::size_t end) {
  notes_offset_ = begin;
  const std::vector<item> items = split_items(text_, begin, end);
  int number = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const item &it = items[i];
    if (it.text.empty()) {
      // A comma may end the list; an empty note elsewhere is a slip.
      if (i + 1 < items.size()) report(true, it.offset, "empty note between commas");
      continue;
    }
    ++number;
    if (auto note = parse_note(it, number)) notes_.push_back(*note);
  }
  if (number == 0) report(false, begin, "the ringtone has no notes");
}

namespace {

// A ringtone note value's key: its length and dot.
std::int64_t value_key(int length, bool dotted) { return 2 * length + (dotted ? 1 : 0); }
int key_length(std::int64_t key) { return static_cast<int>(key / 2); }
bool key_dotted(std::int64_t key) { return key % 2 != 0; }

}  // namespace

// The ringtone's notes as the melody writer takes them: melodyc's
// semitones, and each note's value (its length and dot) with its units at
// the ringtone's tempo.
std::vector<tune_note> converter::tune_notes(double default_units) const {
  std::vector<tune_note> notes;
  double start = 0;
  for (const rtttl_note &note : notes_) {
    const double relative = static_cast<double>(length_) / note.length * (note.dotted ? 1.5 : 1.0);
    const double length = default_units * relative;
    notes.push_back({note.pause, note.semitone - 12 * octave_offset, value_key(note.length, note.dotted), start, length});
    start += length;
  }
  return notes;
}

// The ringtone's grid: the longest step that every note's length is a
// whole number of (in 64ths of a whole note, which holds a dotted 32nd),
// in milliseconds.
double converter::grid_ms(double whole_ms) const {
  int step = 0;
  for (const rtttl_note &note : notes_) step = std::gcd(step, 64 / note.length * (note.dotted ? 3 : 2));
  return step == 0 ? 0 : whole_ms * step / 128;
}

// "A quarter note lasts 952.4 ms: the base duration, 16 units of 59.524 ms"
std::string converter::describe_base(const note_value &value, int base, const std::string &unit_text) const {
  const int length = key_length(value.key);
  std::string line = std::string(key_dotted(value.key) ? "a dotted " : length == 8 ? "an " : "a ") +
                     length_word(length) + " note lasts " + with_decimals(value.target * options_.unit_ms, 1) +
                     " ms: the base duration, " + std::to_string(base) + (base == 1 ? " unit" : " units") + unit_text;
  line[0] = static_cast<char>(line[0] - 32);  // "A" or "An" opens the sentence
  return line;
}

void converter::write_melody() {
  const double default_ms = 240000.0 / (beats_ * length_);
  const double default_units = default_ms / options_.unit_ms;
  tune_source source;
  source.heading = (name_.empty() ? std::string("(a ringtone with no name)") : name_) + ", from tonetool rtttl: d=" +
                   std::to_string(length_) + ", o=" + std::to_string(octave_) + ", b=" + std::to_string(beats_);
  source.tempo_name = "b=" + std::to_string(beats_);
  source.range_name = note_name(lowest_playable + 12 * octave_offset) + " to " +
                      note_name(highest_playable + 12 * octave_offset) + " in ringtone octaves (melodyc's " +
                      playable_text() + ")";
  source.label = [this](std::size_t i) { return note_label(i); };
  source.base_comment = [this](const note_value &value, int base, const std::string &unit_text) {
    return describe_base(value, base, unit_text);
  };
  source.grid_ms = grid_ms(default_ms * length_);
  source.preferred_value = value_key(length_, false);
  source.empty_base = static_cast<int>(std::clamp<long>(std::lround(default_units), 1, 255));
  tune_options options;
  options.unit_ms = options_.unit_ms;
  options.transpose_given = options_.transpose_given;
  options.transpose = options_.transpose;
  options.strict = options_.strict;
  written_tune tune = write_tune(tune_notes(default_units), source, options);
  for (tune_message &m : tune.messages) {
    report(m.error, m.note == about_the_tune ? defaults_offset_ : notes_[m.note].offset, std::move(m.text));
  }
  melody_ = std::move(tune.melody);
  summary_ = std::move(tune.summary);
}

rtttl_conversion converter::convert() {
  std::size_t begin = 0;
  if (text_.substr(0, 3) == "\xEF\xBB\xBF") begin = 3;  // a byte-order mark
  const auto first = text_.find(':', begin);
  const auto second = first == std::string_view::npos ? first : text_.find(':', first + 1);
  if (first == std::string_view::npos) {
    report(true, begin, std::string("no ':' after the ringtone's name; ") + ringtone_form);
  } else if (second == std::string_view::npos) {
    report(true, first + 1, std::string("no ':' between the defaults and the notes; ") + ringtone_form);
  } else {
    for (std::size_t i = begin; i < first; ++i) {
      const unsigned char c = static_cast<unsigned char>(text_[i]);
      if (c >= ' ' && c != 0x7F) name_ += static_cast<char>(c);
      else if (c == '\t') name_ += ' ';
      else if (c == '\n' || c == '\r') name_.clear();  // a name is on the line of its defaults
    }
    while (!name_.empty() && name_.back() == ' ') name_.pop_back();
    while (!name_.empty() && name_.front() == ' ') name_.erase(0, 1);
    defaults_offset_ = first + 1;
    parse_defaults(first + 1, second);
    // A third ':' is the name of a second ringtone: it begins after the
    // last comma or line break before it.
    const auto third = text_.find(':', second + 1);
    std::size_t end = text_.size();
    if (third != std::string_view::npos) {
      end = text_.find_last_of(",\n", third);
      end = end == std::string_view::npos || end < second ? second + 1 : end + 1;
      report(true, end, "a second ringtone begins here; tonetool rtttl reads one ringtone a file");
    }
    parse_notes(second + 1, end);
  }
  if (errors_ == 0) write_melody();
  std::stable_sort(pending_.begin(), pending_.end(),
                   [](const pending &a, const pending &b) { return a.offset < b.offset; });
  rtttl_conversion result;
  for (const pending &p : pending_) {
    const auto line = std::upper_bound(line_starts_.begin(), line_starts_.end(), p.offset) - line_starts_.begin();
    const std::size_t column = p.offset - line_starts_[static_cast<std::size_t>(line - 1)] + 1;
    result.messages.push_back({p.error, static_cast<std::int64_t>(line), static_cast<std::int64_t>(column), p.text});
  }
  result.errors = errors_;
  result.warnings = warnings_;
  result.name = name_;
  result.notes = notes_.size();
  result.beats = beats_;
  for (const rtttl_note &note : notes_) result.seconds += 240.0 / beats_ / note.length * (note.dotted ? 1.5 : 1.0);
  if (result.errors == 0) {
    result.melody = std::move(melody_);
    result.summary = std::move(summary_);
  }
  return result;
}

}  // namespace

rtttl_conversion convert_rtttl(std::string_view text, const rtttl_options &options) {
  return converter(text, options).convert();
}
