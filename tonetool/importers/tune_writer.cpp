// Writing imported notes as a melody text: pitches into range, lengths
// into units.
#include "tune_writer.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "message_text.h"
#include "note_rules.h"

namespace {

// A record holds at most this many units.
constexpr std::int64_t longest_record = 255;
// Per-note rhythm warnings shown before the rest are only counted.
constexpr int shown_rhythm_warnings = 8;
// Messages name notes as musicians do: melodyc's A1 is A4.
constexpr int sounding_octaves = 3;

std::string sounding_name(int semitone) { return note_name(semitone + 12 * sounding_octaves); }

std::string octaves_text(int semitones) {
  const int octaves = std::abs(semitones) / 12;
  return std::to_string(octaves) + (octaves == 1 ? " octave" : " octaves");
}

// `semitone` moved by whole octaves into the playable range.
int folded(int semitone, const playable_range &playable) {
  while (semitone < playable.lowest) semitone += 12;
  while (semitone > playable.highest) semitone -= 12;
  return semitone;
}

bool playable(int semitone, const playable_range &range) {
  return semitone >= range.lowest && semitone <= range.highest;
}

// Builds one tune: each step adds its messages and may stop the writing.
class writer {
 public:
  writer(const std::vector<tune_note> &notes, const tune_source &source, const tune_options &options)
      : notes_(notes), source_(source), options_(options), range_(playable_notes()) {}

  written_tune write();

 private:
  void add_message(bool error, std::size_t note, std::string text) {
    result_.messages.push_back({error, note, std::move(text)});
    if (error) failed_ = true;
  }
  bool choose_pitch();
  void refuse_range(int low, int high);
  void fold(int low, int high);
  bool choose_rhythm();
  void refuse_rhythm();
  const std::string &fitting();
  bool within_record_limit();
  int choose_base();
  void write_header(int base);
  void write_notes(int base);
  void summarize();
  std::string tempo_text() const;
  std::string unit_text() const { return " of " + plain_number(options_.unit_ms, 6) + " ms"; }

  const std::vector<tune_note> &notes_;
  const tune_source &source_;
  const tune_options &options_;
  const playable_range range_;
  written_tune result_;
  bool failed_ = false;
  int shift_ = 0;                  // semitones, for every note
  std::size_t folded_ = 0;         // notes moved further by octaves
  std::vector<timed_note> timed_;
  timing chosen_;
  note_value base_value_{};
  bool fitting_found_ = false;
  std::string fitting_unit_;
};

// The shift that the whole tune needs to fit melodyc's range: by hand, the
// fewest whole octaves, or, where none fits, the one that fits the most
// notes with the rest folded in by octaves (refused with --strict).
bool writer::choose_pitch() {
  const int by_hand = options_.transpose_given ? options_.transpose : 0;
  int low = 1 << 20, high = -(1 << 20);
  std::size_t first_outside = notes_.size();
  for (std::size_t i = 0; i < notes_.size(); ++i) {
    if (notes_[i].rest) continue;
    const int m = notes_[i].semitone + by_hand;
    low = std::min(low, m);
    high = std::max(high, m);
    if (!playable(m, range_) && first_outside == notes_.size()) first_outside = i;
  }
  shift_ = by_hand;
  if (first_outside == notes_.size()) return true;
  if (!options_.transpose_given) {
    for (int octaves = 1; octaves <= 12; ++octaves) {
      for (const int k : {octaves, -octaves}) {
        if (!playable(low + 12 * k, range_) || !playable(high + 12 * k, range_)) continue;
        shift_ = 12 * k;
        add_message(false, first_outside,
            "the notes run from " + sounding_name(low) + " to " + sounding_name(high) + ", beyond " +
                source_.range_name + ": the whole tune moves " + (k > 0 ? "up " : "down ") + octaves_text(shift_) +
                "; --transpose N sets the shift by hand");
        return true;
      }
    }
  }
  if (options_.strict) {
    refuse_range(low, high);
    return false;
  }
  fold(low, high);
  return true;
}

// One error for each note outside the range, with a transposition that
// fits every note where one does.
void writer::refuse_range(int low, int high) {
  const int by_hand = options_.transpose_given ? options_.transpose : 0;
  const int width = high - low, room = range_.highest - range_.lowest;
  const std::string hint =
      width <= room ? "; --transpose " + std::to_string(range_.lowest - low + by_hand) + " to " +
                          std::to_string(range_.highest - high + by_hand) + " fits every note"
                    : "; the tune spans " + std::to_string(width) + " semitones, more than melodyc's " +
                          std::to_string(room) + " (without --strict the notes outside move by octaves into it)";
  for (std::size_t i = 0; i < notes_.size(); ++i) {
    const int m = notes_[i].semitone + by_hand;
    if (notes_[i].rest || playable(m, range_)) continue;
    add_message(true, i,
        source_.label(i) + " is " + sounding_name(m) + " (" + with_decimals(note_hz(m), 0) + " Hz)" +
            (by_hand != 0 ? " after the transposition" : "") + ", outside " + source_.range_name + hint);
  }
}

// The octave shift that fits the most notes (the smallest among equals),
// unless the shift is by hand; every note still outside moves by whole
// octaves into the range, with one warning.
void writer::fold(int low, int high) {
  if (!options_.transpose_given) {
    std::size_t most = 0;
    for (int k = -10; k <= 10; ++k) {
      std::size_t fit = 0;
      for (const tune_note &n : notes_) fit += !n.rest && playable(n.semitone + 12 * k, range_);
      if (fit > most || (fit == most && std::abs(k) < std::abs(shift_ / 12))) {
        most = fit;
        shift_ = 12 * k;
      }
    }
  }
  std::size_t first = notes_.size();
  for (std::size_t i = 0; i < notes_.size(); ++i) {
    if (notes_[i].rest || playable(notes_[i].semitone + shift_, range_)) continue;
    if (first == notes_.size()) first = i;
    ++folded_;
  }
  std::string moved;
  if (options_.transpose_given) {
    moved = " after --transpose " + std::to_string(shift_) + ":";
  } else if (shift_ != 0) {
    moved = ": the whole tune moves " + std::string(shift_ > 0 ? "up " : "down ") + octaves_text(shift_) + " and";
  } else {
    moved = ":";
  }
  add_message(false, first,
      "the notes run from " + sounding_name(low) + " to " + sounding_name(high) + ", " + std::to_string(high - low) +
          " semitones, beyond " + source_.range_name + moved + " " + std::to_string(folded_) +
          (folded_ == 1 ? " note outside it moves" : " notes outside it move") +
          " by whole octaves into it, the first " + source_.label(first) + "; --strict refuses such a tune");
}

// The rhythm on the tune's timeline, at the change of tempo that makes its
// grid whole units; under --strict, false with an error where a note
// joins another or is off its length.
bool writer::choose_rhythm() {
  for (const tune_note &n : notes_) timed_.push_back({n.rest, n.start, n.length});
  chosen_ = time_notes(timed_, grid_scale(source_.grid_ms / options_.unit_ms));
  // Without splitting, a note past melodyc's longest is cut to it.
  for (std::size_t i = 0; i < notes_.size() && !options_.split_long; ++i) {
    if (chosen_.units[i] <= longest_record) continue;
    chosen_.units[i] = longest_record;
    weigh_error(chosen_, i);
  }
  if (!options_.strict || keeps_every_note(chosen_)) return true;
  refuse_rhythm();
  return false;
}

// The unit at which every note keeps its length, worked out once.
const std::string &writer::fitting() {
  if (!fitting_found_) fitting_unit_ = fitting_unit(timed_, options_.unit_ms, source_.grid_ms);
  fitting_found_ = true;
  return fitting_unit_;
}

void writer::refuse_rhythm() {
  const bool joins = chosen_.merged > 0;
  const std::size_t at = joins ? chosen_.first_merged : chosen_.worst_note;
  std::string what = source_.label(at) + " is " + with_decimals(chosen_.scale * notes_[at].length, 2) + " units" +
                     unit_text() + ": ";
  if (joins) {
    what += "too short for a unit of its own, it would join its neighbours";
  } else {
    what += "it would get " + std::to_string(chosen_.units[at]) + " (" + signed_percent(chosen_.worst_error) +
            "), more than " + whole_percent(close_enough) + "% off";
  }
  if (!fitting().empty()) {
    what += "; --unit-ms " + fitting() + " keeps every note (play it at the same unit, as tonetool wav --unit-ms " +
            fitting() + " does)";
  } else {
    what += "; no unit of " + plain_number(least_advised_unit_ms, 0) + " ms or more keeps every note";
  }
  add_message(true, at, what + "; without --strict the nearest tune is written");
}

// Records beyond any tune, which a file's claims of hour-long notes would
// otherwise pile up.
bool writer::within_record_limit() {
  std::uint64_t records = 0;
  for (const std::int64_t u : chosen_.units) {
    records += static_cast<std::uint64_t>(options_.split_long ? (u + longest_record - 1) / longest_record : u > 0);
  }
  if (records <= most_tune_records) return true;
  add_message(true, about_the_tune,
      "the melody would be " + std::to_string(records) + " records, more than the " +
          std::to_string(most_tune_records) + " of any tune; a larger --unit-ms, or is this the right file?");
  return false;
}

// The base duration: the commonest units of a note, so that most notes
// need no multiplier; it is described by the commonest value among the
// notes that have it, the source's preferred value among equals.
int writer::choose_base() {
  std::map<std::int64_t, std::size_t> by_units;
  for (const std::int64_t u : chosen_.units) {
    if (u > 0) ++by_units[std::min(u, longest_record)];
  }
  if (by_units.empty()) return source_.empty_base;
  std::size_t most = 0;
  for (const auto &[units, count] : by_units) most = std::max(most, count);
  // Among equals, the units of the source's preferred value, else the fewest.
  std::int64_t base = 0;
  for (std::size_t i = 0; i < notes_.size(); ++i) {
    const std::int64_t u = std::min(chosen_.units[i], longest_record);
    if (u > 0 && notes_[i].value == source_.preferred_value && by_units[u] == most) {
      base = u;
      break;
    }
  }
  for (auto it = by_units.begin(); base == 0; ++it) {
    if (it->second == most) base = it->first;
  }
  std::map<std::int64_t, note_value> values;
  for (std::size_t i = 0; i < notes_.size(); ++i) {
    if (std::min(chosen_.units[i], longest_record) != base) continue;
    const auto [it, fresh] = values.emplace(notes_[i].value, note_value{notes_[i].value, notes_[i].length, 0, i});
    ++it->second.notes;
  }
  base_value_ = values.begin()->second;
  for (const auto &[key, v] : values) {
    if (v.notes > base_value_.notes || (v.notes == base_value_.notes && key == source_.preferred_value)) {
      base_value_ = v;
    }
  }
  return static_cast<int>(base);
}

// The comments that open the melody, and its tempo token.
void writer::write_header(int base) {
  std::string &m = result_.melody;
  m += "% " + source_.heading + "\n";
  if (base_value_.notes > 0) m += "% " + source_.base_comment(base_value_, base, unit_text()) + "\n";
  if (options_.transpose_given && shift_ != 0) {
    m += "% Transposed by " + std::to_string(shift_) + " semitones\n";
  } else if (shift_ != 0) {
    m += "% Moved " + std::string(shift_ > 0 ? "up " : "down ") + octaves_text(shift_) + " to fit melodyc's range\n";
  }
  if (folded_ > 0) {
    m += "% " + std::to_string(folded_) + (folded_ == 1 ? " note" : " notes") +
         " outside melodyc's range moved by whole octaves into it\n";
  }
  m += tempo_token(base) + "\n";
}

// One token a record, wrapped at 72 columns; a warning for each note
// more than close_enough off (the first few, then a count), and one for
// the notes that joined a neighbour.
void writer::write_notes(int base) {
  std::map<std::int64_t, std::string> texts;  // a multiplier for each count of units
  std::string &m = result_.melody;
  std::size_t column = 0;
  int off = 0;
  if (chosen_.merged > 0) {
    const std::size_t first = chosen_.first_merged;
    add_message(false, first,
        source_.label(first) + " is " + with_decimals(chosen_.scale * notes_[first].length, 2) + " units" + unit_text() +
            ", too short for a unit of its own: it joins its neighbours" +
            (chosen_.merged == 2 ? " (and 1 more note like it)"
             : chosen_.merged > 2 ? " (and " + std::to_string(chosen_.merged - 1) + " more notes like it)"
                                  : "") +
            "; a smaller --unit-ms keeps " + (chosen_.merged > 1 ? "them" : "it"));
  }
  for (std::size_t i = 0; i < notes_.size(); ++i) {
    const std::int64_t units = chosen_.units[i];
    if (units == 0) continue;
    const tune_note &n = notes_[i];
    const std::string name = n.rest ? "P" : note_name(folded(n.semitone + shift_, range_));
    for (std::int64_t left = units; left > 0;) {
      const std::int64_t part = std::min(left, longest_record);
      auto text = texts.find(part);
      if (text == texts.end()) text = texts.emplace(part, duration_text("A1", base, static_cast<int>(part))).first;
      const std::string token = name + text->second;
      if (column > 0 && column + 1 + token.size() > 72) {
        m += "\n";
        column = 0;
      }
      m += (column > 0 ? " " : "") + token;
      column += (column > 0 ? 1 : 0) + token.size();
      left -= part;
    }
    const double error = static_cast<double>(units) / chosen_.wanted[i] - 1;
    if (std::fabs(error) <= close_enough || ++off > shown_rhythm_warnings) continue;
    std::string what = source_.label(i) + " is " + with_decimals(chosen_.wanted[i], 2) + " units" + unit_text() + "; ";
    if (units == longest_record && !options_.split_long && chosen_.wanted[i] > longest_record + 0.5) {
      what += "melodyc's longest is 255 units, so it is shortened (" + signed_percent(error) + "); a larger --unit-ms fits it";
    } else {
      what += "it gets " + std::to_string(units) + " (" + signed_percent(error) + "); a smaller --unit-ms is closer";
    }
    add_message(false, i, what);
  }
  if (column > 0) m += "\n";
  if (off > shown_rhythm_warnings) {
    add_message(false, notes_.size() - 1,
        std::to_string(off - shown_rhythm_warnings) + " more notes are off by over " + whole_percent(close_enough) + "%");
  }
}

// "plays 41.2% faster than b=63": the tempo the records play at, against
// the source's.
std::string writer::tempo_text() const {
  const double change = 1 / chosen_.scale - 1;
  if (std::fabs(change) < 0.0005) return "plays at " + source_.tempo_name;
  return "plays " + with_decimals(100 * std::fabs(change), 1) + (change > 0 ? "% faster than " : "% slower than ") +
         source_.tempo_name;
}

// The last line: the tempo, the largest rhythm error and the notes that
// joined a neighbour, and, where any note is off, a unit that keeps every
// one.
void writer::summarize() {
  result_.summary = "the tune " + tempo_text();
  if (chosen_.worst < 0.0005) {
    result_.summary += "; every note keeps its length";
  } else {
    const std::size_t w = chosen_.worst_note;
    result_.summary += "; largest rhythm error " + signed_percent(chosen_.worst_error) + ": " + source_.label(w) + ", " +
                       std::to_string(chosen_.units[w]) + (chosen_.units[w] == 1 ? " unit" : " units") + " for " +
                       with_decimals(chosen_.wanted[w], 2);
  }
  if (chosen_.merged > 0) {
    result_.summary += "; " + std::to_string(chosen_.merged) +
                       (chosen_.merged == 1 ? " note too short for a unit joined its neighbours"
                                            : " notes too short for a unit joined their neighbours");
  }
  if (!keeps_every_note(chosen_) && !fitting().empty()) {
    result_.summary += "; --unit-ms " + fitting() + " keeps every note";
  }
}

written_tune writer::write() {
  if (!choose_pitch() || !choose_rhythm() || !within_record_limit()) return std::move(result_);
  const int base = choose_base();
  write_header(base);
  if (!notes_.empty() && std::fabs(1 / chosen_.scale - 1) > close_enough) {
    const std::string keeping = tempo_keeping_unit(options_.unit_ms, source_.grid_ms);
    add_message(false, about_the_tune,
        "the tune " + tempo_text() + " at " + plain_number(options_.unit_ms, 6) + " ms a unit, which then holds its " +
            "grid exactly" + (keeping.empty() ? "" : "; --unit-ms " + keeping + " keeps the tempo"));
  }
  write_notes(base);
  if (!notes_.empty()) summarize();
  result_.ok = !failed_;
  return std::move(result_);
}

}  // namespace

written_tune write_tune(const std::vector<tune_note> &notes, const tune_source &source, const tune_options &options) {
  return writer(notes, source, options).write();
}

double note_hz(int semitone) { return 440.0 * std::exp2((semitone - 21) / 12.0); }
