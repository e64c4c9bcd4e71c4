// Checking a melody text as a compiler would: every error and suspicious
// construct, with its place.
#include "melody_check.h"

#include <cctype>
#include <cmath>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "compiler.h"
#include "note_rules.h"
#include "note_table.h"
#include "token_reader.h"
#include "importers/rhythm.h"
#include "message_text.h"

namespace {

// The octaves that hold a playable note, as a note's description says them.
std::string octave_digits() {
  const playable_range range = playable_notes();
  return std::to_string(range.lowest / 12) + " to " + std::to_string(range.highest / 12);
}

const std::string note_form = "a note is a name (C C# D D# E F F# G G# A A# B, or P for a pause), an octave digit " +
                              octave_digits() + " and an optional duration multiplier, as in A1, C#2.5 or P2";
const char tempo_form[] =
    "the first token is the tempo, a number from 0.0314 to 16; the base duration is "
    "round(8 / tempo) units, so tempo 2 gives 4";

// How the bytes at text[i] show: a tab as itself, a control byte or a byte
// of no UTF-8 character as \xNN, a character as itself. Sets `bytes` to
// how many it takes and returns the caret columns it takes.
std::size_t show_at(std::string_view text, std::size_t i, std::string &out, std::size_t &bytes) {
  const auto b = static_cast<unsigned char>(text[i]);
  bytes = 1;
  if (b == '\t' || (b >= 0x20 && b < 0x7F)) {
    out += static_cast<char>(b);
    return 1;
  }
  if (b >= 0x80 && (bytes = utf8_length(text, i)) != 0) {
    // A column a byte, as the caret lines have always counted them.
    out.append(text.substr(i, bytes));
    return bytes;
  }
  bytes = 1;
  char escape[5];
  std::snprintf(escape, sizeof escape, "\\x%02x", b);
  out += escape;
  return 4;
}

std::string quoted(std::string_view text) {
  std::string q(1, '\'');
  q += visible_text(text);
  q += '\'';
  return q;
}

std::string byte_hex(unsigned char byte) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", byte);
  return hex;
}

bool has_non_ascii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// One token as the reader delivered it, and where it stands in the text.
struct token_seen {
  const char *text;           // upper-cased, comments removed
  int length;
  std::int64_t line, column;  // where it begins
  std::int64_t end_line;      // the line melodyc names: where it ends
  bool joined;                // it ran on through a comment
  std::string raw;            // as written (the text itself when joined)
};

class checker {
 public:
  checker(const std::string &text, const source_lines &lines, const finding_sink &sink)
      : text_(text), source_(lines), sink_(sink) {}

  check_report run() {
    plan_octave_group();
    std::FILE *in = text_.empty() ? std::fopen("/dev/null", "r")
                                  : fmemopen(const_cast<char *>(text_.data()), text_.size(), "r");
    if (in == nullptr) {
      return report_;
    }
    auto input = std::make_unique<token_input>();
    start_token_input(*input, in);
    std::int64_t line = 1;
    bool tempo_seen = false;
    for (;;) {
      const token_status status = read_token(*input, token_, line);
      if (status == token_status::end_of_input) {
        if (!tempo_seen) no_tempo(line);
        break;
      }
      const token_seen t = seen(*input, line);
      if (status != token_status::token) {
        read_failure(status, t, line);
        break;
      }
      if (!tempo_seen) {
        tempo_seen = true;
        check_tempo(t);
      } else {
        check_note(t);
      }
    }
    std::fclose(in);
    return report_;
  }

 private:
  // Whether the tune, out of range in two notes or more, fits whole when
  // moved by some whole number of octaves: then its notes out of range
  // are one error, with that shift (report_.octaves_off), not one each.
  void plan_octave_group() {
    std::FILE *in = text_.empty() ? nullptr : fmemopen(const_cast<char *>(text_.data()), text_.size(), "r");
    if (in == nullptr) return;
    auto input = std::make_unique<token_input>();
    start_token_input(*input, in);
    const playable_range range = playable_notes();
    std::int64_t line = 1;
    int low = INT32_MAX, high = INT32_MIN, outside = 0;
    for (bool first = true; read_token(*input, token_, line) == token_status::token; first = false) {
      if (first) continue;  // the tempo
      const note_outcome note = apply_note(token_, 1);
      if (note.cell < 0 || note.cell >= 12 || note.octave_index < 0 || note.octave_value < 0 || note.octave_value > 9) {
        continue;
      }
      const int semitone = 12 * note.octave_value + note.cell;
      low = std::min(low, semitone);
      high = std::max(high, semitone);
      outside += semitone < range.lowest || semitone > range.highest;
    }
    std::fclose(in);
    if (outside < 2) return;
    const auto fits = [&](int k) { return low - 12 * k >= range.lowest && high - 12 * k <= range.highest; };
    // Musicians' octave numbers are 3 above this format's: the likeliest shift.
    if (fits(3)) {
      report_.octaves_off = 3;
      return;
    }
    for (int octaves = 1; octaves <= 9; ++octaves) {
      for (const int k : {octaves, -octaves}) {
        if (low - 12 * k >= range.lowest && high - 12 * k <= range.highest) {
          report_.octaves_off = k;
          return;
        }
      }
    }
  }

  token_seen seen(const token_input &input, std::int64_t end_line) const {
    token_seen t{token_, input.token_length, input.token_line, input.token_column, end_line,
                 input.token_line != end_line, {}};
    const std::string_view line_text = source_.line(t.line);
    const auto from = static_cast<std::size_t>(t.column - 1);
    if (!t.joined && from + static_cast<std::size_t>(t.length) <= line_text.size()) {
      t.raw = std::string(line_text.substr(from, static_cast<std::size_t>(t.length)));
    } else {
      t.raw = std::string(token_, static_cast<std::size_t>(t.length));
    }
    return t;
  }

  void add(finding_kind kind, std::int64_t line, std::int64_t column, int length,
           std::string message, const melody_failure *melodyc = nullptr) {
    finding f{kind, line, column, length < 1 ? 1 : length, std::move(message), {}};
    if (kind == finding_kind::error) {
      ++report_.errors;
      if (melodyc != nullptr) f.melodyc_message = melodyc->message;
    } else {
      ++report_.warnings;
    }
    sink_(f);
  }

  // An error about part of a token: offset and length within it. A token
  // that ran on through a comment is pointed at as a whole, and the
  // message names the line melodyc names.
  void token_error(const token_seen &t, int offset, int length, std::string message,
                   const melody_failure &melodyc) {
    if (t.joined) {
      message += " (the token runs on through a comment; melodyc reports line " +
                 std::to_string(t.end_line) + ")";
      add(finding_kind::error, t.line, t.column, 1, std::move(message), &melodyc);
      return;
    }
    add(finding_kind::error, t.line, t.column + offset, length, std::move(message), &melodyc);
  }

  void token_warning(const token_seen &t, int offset, int length, std::string message) {
    if (t.joined) {
      add(finding_kind::warning, t.line, t.column, 1, std::move(message));
    } else {
      add(finding_kind::warning, t.line, t.column + offset, length, std::move(message));
    }
  }

  void no_tempo(std::int64_t line) {
    melody_failure melodyc{};
    describe_tempo_failure(tempo_error::invalid_tempo, line, melodyc);
    add(finding_kind::error, line, 1, 1,
        std::string("the melody has no tempo (it holds only blank lines and comments); ") +
            tempo_form,
        &melodyc);
  }

  void read_failure(token_status status, const token_seen &t, std::int64_t line) {
    melody_failure melodyc{};
    describe_read_failure(status, line, melodyc);
    if (status == token_status::too_long) {
      std::string message =
          "this token is 80 bytes or longer; a token holds at most 79: separate notes with white space";
      if (t.line != line) {
        message += " (the token runs on through a comment; melodyc reports line " + std::to_string(line) + ")";
      }
      add(finding_kind::error, t.line, t.column, 1, std::move(message), &melodyc);
    } else {
      add(finding_kind::error, line, 1, 1, "the melody could not be read to its end", &melodyc);
    }
  }

  void check_tempo(const token_seen &t) {
    const tempo_outcome tempo = apply_tempo(t.text);
    if (tempo.error == tempo_error::none) {
      base_duration_ = tempo.base_duration;
      const int used = tempo.used;
      if (used < t.length) {
        token_warning(t, used, t.length - used,
                      "text after the tempo " + quoted(std::string_view(t.raw).substr(0, static_cast<std::size_t>(used))) +
                          " is ignored: " + quoted(std::string_view(t.raw).substr(static_cast<std::size_t>(used))));
      }
      return;
    }
    melody_failure melodyc{};
    describe_tempo_failure(tempo.error, t.end_line, melodyc);
    if (tempo.error == tempo_error::invalid_tempo) {
      std::string message = "invalid tempo " + quoted(t.raw) + ": " + tempo_form;
      if (t.raw.rfind("\xEF\xBB\xBF", 0) == 0) {
        message += "; the file starts with a byte-order mark (EF BB BF): save it without one";
      } else if (apply_note(t.text, 1).error == note_error::none) {
        message += "; " + quoted(t.raw) + " is a note: put the tempo before it";
      }
      token_error(t, 0, t.length, message, melodyc);
      return;
    }
    // The count melodyc's rule makes, before its range check.
    const std::string units = tempo.units > 255 ? "over 255"
                              : tempo.units < 0 ? "not a count"
                                                : std::to_string(tempo.units);
    // What a tempo means, at the default unit, and the tempo meant where
    // the number looks like beats a minute.
    std::string meant = "; at 125 ms a unit tempo 2 makes the base note 4 units, 500 ms, 120 beats a minute";
    const double beats = std::atof(t.text);
    const long beat_units = std::lround(480.0 / beats);
    if (beats > 16 && beats <= 1000 && beat_units >= 1 && beat_units <= 255) {
      meant += ", so for " + plain_number(beats, 3) + " beats a minute write " +
               tempo_token(static_cast<int>(beat_units));
    }
    token_error(t, 0, t.length,
                "tempo " + quoted(t.raw) + " is out of range: round(8 / tempo) = " + units +
                    " units, but the base duration must be 1 to 255; tempos from 0.0314 to 16 "
                    "give 255 down to 1" + meant,
                melodyc);
  }

  // The sharp spelling of a flat written as letter + b ("Db1" is "C#1").
  static std::string as_sharp(std::string_view raw) {
    static const char *const sharps[] = {"B", "C#", "D#", "E", "F#", "G#", "A#"};
    static const char letters[] = "CDEFGAB";
    // strchr finds the terminator for a zero byte, so that is ruled out first.
    if (raw.size() < 2 || raw[0] == '\0') return "";
    const char *at = std::strchr(letters, std::toupper(static_cast<unsigned char>(raw[0])));
    if (at == nullptr) return "";
    std::string rest(raw.substr(2));
    if (*at == 'C') {  // C flat is B an octave down
      if (rest.empty() || rest[0] < '1' || rest[0] > '9') return "";
      rest[0] = static_cast<char>(rest[0] - 1);
    }
    return sharps[at - letters] + rest;
  }

  // A name that is no note, with the likely slip named.
  void invalid_note(const token_seen &t, const melody_failure &melodyc) {
    const std::string_view raw = t.raw;
    std::string message = "invalid note " + quoted(raw) + ": " + note_form;
    const bool flat = raw.size() >= 2 && raw[0] != '\0' && (raw[1] == 'b' || raw[1] == 'B') &&
                      std::strchr("CDEFGABcdefgab", raw[0]) != nullptr;
    if (raw.rfind("\xEF\xBB\xBF", 0) == 0) {
      message += "; the token starts with a byte-order mark (EF BB BF): save the file without one";
    } else if (flat && !as_sharp(raw).empty()) {
      message += "; flats are written as sharps: " + quoted(as_sharp(raw));
    } else if (has_non_ascii(raw)) {
      message += "; it holds bytes that are not ASCII (such as a typographic sharp): write "
                 "sharps as '#'";
    }
    token_error(t, 0, t.length, message, melodyc);
  }

  // The octave byte of a note out of range: missing, no digit, or a digit
  // beyond the playable notes.
  void note_out_of_range(const token_seen &t, const note_outcome &note, const std::string &name,
                         const melody_failure &melodyc) {
    const std::string_view raw = t.raw;
    const int at = note.octave_index;
    const auto octave_byte = static_cast<unsigned char>(t.text[at]);
    if (octave_byte == '\0') {
      token_error(t, 0, t.length,
                  "note " + quoted(raw) + " has no octave: write a digit " + octave_digits() + " after the name, as in " +
                      name + "1",
                  melodyc);
    } else if (octave_byte >= 0x80) {
      token_error(t, at, t.length - at,
                  "after " + quoted(name) + " comes the byte " + byte_hex(octave_byte) +
                      ", which is not ASCII (a typographic sharp?) and is read as the octave: "
                      "write sharps as '#', as in " + name + "#1",
                  melodyc);
    } else if (octave_byte < '0' || octave_byte > '9') {
      token_error(t, at, 1,
                  "the octave of " + quoted(raw) + " is " + quoted(std::string(1, static_cast<char>(octave_byte))) +
                      ", not a digit: write a digit " + octave_digits() + " after the name",
                  melodyc);
    } else if (report_.octaves_off != 0 && grouped_shown_) {
      // Counted with the first, which said why.
      ++report_.errors;
      ++report_.more_out_of_range;
    } else {
      std::string message = "note " + quoted(raw.substr(0, static_cast<std::size_t>(at + 1))) +
                            " is out of range: playable notes run from " + playable_text();
      if (report_.octaves_off != 0) {
        const int k = std::abs(report_.octaves_off);
        const std::string octaves = std::to_string(k) + (k == 1 ? " octave" : " octaves");
        message += "; the tune lies " + octaves + (report_.octaves_off > 0 ? " too high" : " too low") +
                   (report_.octaves_off == 3 ? " for this format, where A1 is the 440 Hz A, musicians' A4" : "") +
                   ": move every note " + (report_.octaves_off > 0 ? "down " : "up ") + octaves +
                   " (tonetool rtttl and from-midi move tunes by themselves)";
        grouped_shown_ = true;
      }
      token_error(t, 0, at + 1, message, melodyc);
    }
  }

  void check_note(const token_seen &t) {
    const bool tempo_known = base_duration_ != 0;
    const note_outcome note = apply_note(t.text, tempo_known ? base_duration_ : 1);
    const std::string_view raw = t.raw;
    const std::string name(t.text, static_cast<std::size_t>(note.name_end));
    melody_failure melodyc{};
    describe_note_failure(note, t.text, t.end_line, melodyc);
    switch (note.error) {
      case note_error::invalid_note:
        invalid_note(t, melodyc);
        return;
      case note_error::note_out_of_range:
        note_out_of_range(t, note, name, melodyc);
        return;
      case note_error::invalid_duration:
        token_error(t, note.duration_start, note.duration_end - note.duration_start,
                    "invalid duration " +
                        quoted(raw.substr(static_cast<std::size_t>(note.duration_start),
                                          static_cast<std::size_t>(note.duration_end - note.duration_start))) +
                        " in " + quoted(raw) +
                        ": the multiplier after the octave must be a number above 0, as in A1.5 or A12",
                    melodyc);
        return;
      case note_error::duration_out_of_range:
        if (tempo_known) {
          char product[64];
          std::snprintf(product, sizeof product, "%u x %g = %.6g", base_duration_,
                        static_cast<double>(note.multiplier),
                        base_duration_ * static_cast<double>(note.multiplier));
          token_error(t, 0, t.length,
                      quoted(raw) + " lasts " + product +
                          " units; a note lasts at most 255: use a smaller multiplier, or several notes",
                      melodyc);
        }
        break;
      case note_error::none:
        break;
    }
    note_warnings(t, note, name, tempo_known);
  }

  void note_warnings(const token_seen &t, const note_outcome &note, const std::string &name,
                     bool tempo_known) {
    const std::string_view raw = t.raw;
    if (t.joined) {
      const std::string_view written = source_.line(t.line).substr(static_cast<std::size_t>(t.column - 1));
      const std::string before = std::string(written.substr(0, written.find('%')));
      token_warning(t, 0, t.length,
                    quoted(before) + " runs on through the comment into line " +
                        std::to_string(t.end_line) + " and is read as " +
                        quoted(std::string_view(t.text, static_cast<std::size_t>(t.length))) +
                        ": put a space before '%'");
      return;  // what else it says follows from the joined text
    }
    if (note.cell >= 0 && name != note_cell_names[note.cell]) {
      token_warning(t, 0, note.name_end,
                    "the name " + quoted(raw.substr(0, static_cast<std::size_t>(note.name_end))) +
                        " is not a note name; it is read as " + note_cell_names[note.cell] +
                        ", from the note table: write " + note_cell_names[note.cell]);
    }
    if (note.octave_index >= 0) {
      const auto octave = static_cast<unsigned char>(t.text[note.octave_index]);
      if (octave < '0' || octave > '9') {
        token_warning(t, note.octave_index, 1,
                      "the octave character " + quoted(raw.substr(static_cast<std::size_t>(note.octave_index), 1)) +
                          " is not a digit; only its low five bits count, so it is read as octave " +
                          std::to_string(note.octave_value & 31) + ": write " + note_cell_names[note.cell] +
                          std::to_string(note.octave_value & 31));
      }
    }
    if (note.duration_end < t.length) {
      const std::string ignored(raw.substr(static_cast<std::size_t>(note.duration_end)));
      std::string message = "the text " + quoted(ignored) + " after the note is ignored";
      if (ignored[0] == ',' && ignored.size() > 1 && ignored[1] >= '0' && ignored[1] <= '9') {
        message += ": write a fraction with a dot, as in 1.5";
      }
      token_warning(t, note.duration_end, t.length - note.duration_end, message);
    }
    if (tempo_known && note.error == note_error::none && note.units == 0) {
      char product[64];
      std::snprintf(product, sizeof product, "round(%u x %g) = 0", base_duration_,
                    static_cast<double>(note.multiplier));
      token_warning(t, 0, t.length,
                    quoted(raw) + " lasts " + product + " units: it is written, but makes no sound");
    }
  }

  const std::string &text_;
  const source_lines &source_;
  const finding_sink &sink_;
  check_report report_;
  bool grouped_shown_ = false;  // the first note out of range of a tune moved by octaves
  char token_[token_capacity] = {};
  unsigned base_duration_ = 0;
};

}  // namespace

source_lines::source_lines(const std::string &t) : text(t) {
  starts.push_back(0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    ends.push_back(i > starts.back() && text[i - 1] == '\r' ? i - 1 : i);
    starts.push_back(i + 1);
  }
  ends.push_back(text.size() > starts.back() && text.back() == '\r' ? text.size() - 1 : text.size());
}

std::string_view source_lines::line(std::int64_t number) const {
  if (number < 1 || static_cast<std::size_t>(number) > starts.size()) return {};
  const auto i = static_cast<std::size_t>(number - 1);
  return std::string_view(text).substr(starts[i], ends[i] - starts[i]);
}

check_report check_melody(const std::string &text, const source_lines &lines, const finding_sink &sink) {
  return checker(text, lines, sink).run();
}

std::string visible_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0, bytes = 0; i < text.size(); i += bytes) show_at(text, i, out, bytes);
  return out;
}

std::string report_summary(int errors, int warnings) {
  return std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") + std::to_string(warnings) +
         (warnings == 1 ? " warning" : " warnings");
}

namespace {

// A source line longer than this shows a window of it around the caret.
constexpr std::size_t longest_shown_line = 120;
constexpr std::size_t window_margin = 40;

}  // namespace

std::string format_finding(const finding &f, const source_lines &lines, const std::string &name,
                           bool warnings_are_errors, bool colour) {
  const bool error = f.kind == finding_kind::error || warnings_are_errors;
  const auto paint = [colour](const char *code, const std::string &text) {
    return colour ? std::string("\033[") + code + "m" + text + "\033[m" : text;
  };
  std::string out = paint("1", name + ":" + std::to_string(f.line) + ":" + std::to_string(f.column) + ":") + " " +
                    (error ? paint("1;31", "error:") : paint("1;35", "warning:")) + " " + f.message +
                    (f.kind == finding_kind::warning && warnings_are_errors ? " [--werror]" : "") + "\n";
  const std::string_view line = lines.line(f.line);
  const auto caret_at = static_cast<std::size_t>(f.column - 1);
  const auto marked = static_cast<std::size_t>(f.length);
  std::size_t begin = 0, end = line.size();
  if (line.size() > longest_shown_line) {
    begin = caret_at > window_margin ? std::min(caret_at, line.size()) - window_margin : 0;
    end = std::min(line.size(), caret_at + marked + window_margin);
    while (begin > 0 && begin < line.size() && (static_cast<unsigned char>(line[begin]) & 0xC0) == 0x80) --begin;
    while (end < line.size() && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) ++end;
  }
  char number[32];
  std::snprintf(number, sizeof number, "%5lld | ", static_cast<long long>(f.line));
  std::string shown = number;
  std::string caret = "      | ";
  if (begin > 0) {
    shown += "...";
    caret += "   ";
  }
  std::size_t marks = 0;
  for (std::size_t i = begin, bytes = 0; i < end; i += bytes) {
    const std::size_t columns = show_at(line, i, shown, bytes);
    if (i < caret_at) caret.append(line[i] == '\t' ? "\t" : std::string(columns, ' '));
    else if (i < caret_at + marked) marks += columns;
  }
  if (end < line.size()) shown += "...";
  if (caret_at > end) caret.append(caret_at - std::max(end, begin), ' ');
  std::string marker = "^";
  marker.append(marks > 1 ? marks - 1 : caret_at >= end ? marked - 1 : 0, '~');
  return out + shown + "\n" + caret + paint("1;32", marker) + "\n";
}

