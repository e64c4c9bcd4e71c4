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
  void say(bool error, std::size_t note, std::string text) {
    result_.messages.push_back({error, note, std::move(text)});
    if (error) failed_ = true;
  }
  bool choose_pitch();
  void refuse_range(int low, int high);
  void fold(int low, int high);
  bool choose_rhythm();
  void refuse_rhythm();
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
  std::vector<note_value> values_;
  std::vector<std::size_t> value_of_;
  rhythm chosen_;
  std::size_t base_value_ = 0;
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
        say(false, first_outside,
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
    say(true, i,
        source_.label(i) + " is " + sounding_name(m) + " (" + fixed(note_hz(m), 0) + " Hz)" +
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
  say(false, first,
      "the notes run from " + sounding_name(low) + " to " + sounding_name(high) + ", " + std::to_string(high - low) +
          " semitones, beyond " + source_.range_name + moved + " " + std::to_string(folded_) +
          (folded_ == 1 ? " note outside it moves" : " notes outside it move") +
          " by whole octaves into it, the first " + source_.label(first) + "; --strict refuses such a tune");
}

// The rhythm at one change of tempo; false, with an error at the note
// furthest off (or lost), where it would distort the tune and that is not
// asked for.
bool writer::choose_rhythm() {
  std::map<std::int64_t, std::size_t> value_at;
  value_of_.assign(notes_.size(), 0);
  for (std::size_t i = 0; i < notes_.size(); ++i) {
    const auto [it, fresh] = value_at.emplace(notes_[i].value, values_.size());
    if (fresh) values_.push_back({notes_[i].value, notes_[i].units, 0, i});
    ++values_[it->second].notes;
    value_of_[i] = it->second;
  }
  if (values_.empty()) return true;
  chosen_ = best_rhythm(values_, options_.split_long ? INT32_MAX : longest_record);
  fitting_unit_ = source_.fitting_unit ? source_.fitting_unit(values_) : fitting_unit(values_, options_.unit_ms);
  if (keeps_the_tune(chosen_) || options_.approximate) return true;
  refuse_rhythm();
  return false;
}

void writer::refuse_rhythm() {
  // A note no tempo within the limit can keep is named first: one that
  // vanishes, then one too long for a record.
  const auto too_long = [&](const note_value &v) {
    return !options_.split_long && v.target / (1 + widest_tempo_change) > longest_record + 0.5;
  };
  std::size_t worst = chosen_.worst_value;
  for (std::size_t i = 0; i < chosen_.values.size(); ++i) {
    const note_value &v = chosen_.values[i], &w = chosen_.values[worst];
    if ((v.vanishes && !w.vanishes) || (!w.vanishes && too_long(v) && !too_long(w))) worst = i;
  }
  const note_value &v = chosen_.values[worst];
  const std::string widest = whole_percent(widest_tempo_change);
  std::string what = source_.label(v.first) + " is " + fixed(v.target, 2) + " units" + unit_text() + " at " +
                     source_.tempo_name + ": ";
  if (v.vanishes) {
    what += "even " + widest + "% slower it rounds to 0 units and would not sound";
  } else if (too_long(v)) {
    what += "even " + widest + "% faster it is longer than melodyc's 255 units";
  } else {
    what += "no tempo within " + widest + "% keeps every note within " + whole_percent(close_enough) +
            "% of its length (at the closest this one is off by " + percent(v.error) + ")";
  }
  if (!fitting_unit_.empty()) {
    what += "; --unit-ms " + fitting_unit_ + " fits every note (play it at the same unit, as tonetool wav --unit-ms " +
            fitting_unit_ + " does)";
  }
  say(true, v.first, what + "; " + source_.approximate_hint);
}

// Records beyond any tune, which a file's claims of hour-long notes would
// otherwise pile up.
bool writer::within_record_limit() {
  std::uint64_t records = 0;
  for (std::size_t i = 0; i < notes_.size(); ++i) {
    records += static_cast<std::uint64_t>((chosen_.values[value_of_[i]].units + longest_record - 1) / longest_record);
  }
  if (records <= most_tune_records) return true;
  say(true, about_the_tune,
      "the melody would be " + std::to_string(records) + " records, more than the " +
          std::to_string(most_tune_records) + " of any tune; a larger --unit-ms, or is this the right file?");
  return false;
}

// The base duration: the commonest value's units, so that most notes need
// no multiplier; among equals the source's preferred value.
int writer::choose_base() {
  if (values_.empty()) return source_.empty_base;
  std::size_t base = 0;
  for (std::size_t v = 0; v < values_.size(); ++v) {
    const note_value &a = values_[v], &b = values_[base];
    if (a.notes > b.notes ||
        (a.notes == b.notes && a.key == source_.preferred_value && b.key != source_.preferred_value)) {
      base = v;
    }
  }
  base_value_ = base;
  return static_cast<int>(std::min(chosen_.values[base].units, longest_record));
}

// The comments that open the melody, and its tempo token.
void writer::write_header(int base) {
  std::string &m = result_.melody;
  m += "% " + source_.heading + "\n";
  if (!values_.empty()) m += "% " + source_.base_comment(values_[base_value_], base, unit_text()) + "\n";
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

// One token a record, wrapped at 72 columns, and a warning for each note
// more than close_enough off (the first few, then a count).
void writer::write_notes(int base) {
  std::map<std::int64_t, std::string> texts;  // a multiplier for each count of units
  std::string &m = result_.melody;
  std::size_t column = 0;
  int off = 0;
  for (std::size_t i = 0; i < notes_.size(); ++i) {
    const tune_note &n = notes_[i];
    const note_value &v = chosen_.values[value_of_[i]];
    const std::string name = n.rest ? "P" : note_name(folded(n.semitone + shift_, range_));
    for (std::int64_t left = v.units; left > 0;) {
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
    if (std::fabs(v.error) <= close_enough || ++off > shown_rhythm_warnings) continue;
    const double target = chosen_.played * v.target;
    std::string what = source_.label(i) + " is " + fixed(target, 2) + " units" + unit_text() + "; ";
    if (v.vanishes) {
      what += "it would round to 0 units and not sound, so it gets 1 (" + percent(v.error) +
              "); a smaller --unit-ms keeps it";
    } else if (!options_.split_long && target > longest_record + 0.5) {
      what += "melodyc's longest is 255 units, so it is shortened (" + percent(v.error) + "); a larger --unit-ms fits it";
    } else {
      what += "it gets " + std::to_string(v.units) + " (" + percent(v.error) + "); a smaller --unit-ms is closer";
    }
    say(false, i, what);
  }
  if (column > 0) m += "\n";
  if (off > shown_rhythm_warnings) {
    say(false, notes_.size() - 1,
        std::to_string(off - shown_rhythm_warnings) + " more notes are off by over " + whole_percent(close_enough) + "%");
  }
}

// "plays 41.2% faster than b=63": the tempo the records play at, against
// the source's.
std::string writer::tempo_text() const {
  const double change = 1 / chosen_.played - 1;
  if (std::fabs(change) < 0.0005) return "plays at " + source_.tempo_name;
  return "plays " + fixed(100 * std::fabs(change), 1) + (change > 0 ? "% faster than " : "% slower than ") +
         source_.tempo_name;
}

// The last line: the tempo and the largest rhythm error the records have,
// and, where either is far off, a unit that fits every note.
void writer::summarize() {
  const note_value &w = chosen_.values[chosen_.worst_value];
  result_.summary = "the tune " + tempo_text();
  if (chosen_.worst < 0.0005) {
    result_.summary += "; every note keeps its length";
  } else {
    result_.summary += "; largest rhythm error " + percent(w.error) + ": " + source_.label(w.first) + ", " +
                       std::to_string(w.units) + (w.units == 1 ? " unit" : " units") + " for " +
                       fixed(chosen_.played * w.target, 2);
  }
  const bool tempo_off = std::fabs(1 / chosen_.played - 1) > close_enough;
  if ((chosen_.worst > close_enough || tempo_off) && !fitting_unit_.empty()) {
    result_.summary += "; --unit-ms " + fitting_unit_ + " fits every note within 2%";
  }
}

written_tune writer::write() {
  if (!choose_pitch() || !choose_rhythm() || !within_record_limit()) return std::move(result_);
  const int base = choose_base();
  write_header(base);
  if (!values_.empty() && std::fabs(1 / chosen_.played - 1) > close_enough) {
    const double keeping = options_.unit_ms / chosen_.played;
    say(false, about_the_tune,
        "the tune " + tempo_text() + " at " + plain_number(options_.unit_ms, 6) + " ms a unit" +
            (unit_can_be_given(keeping) ? "; --unit-ms " + plain_number(keeping, 3) + " keeps the tempo" : ""));
  }
  write_notes(base);
  if (!values_.empty()) summarize();
  result_.ok = !failed_;
  return std::move(result_);
}

}  // namespace

written_tune write_tune(const std::vector<tune_note> &notes, const tune_source &source, const tune_options &options) {
  return writer(notes, source, options).write();
}

double note_hz(int semitone) { return 440.0 * std::exp2((semitone - 21) / 12.0); }
