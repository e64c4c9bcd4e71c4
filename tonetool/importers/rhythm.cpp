#include "rhythm.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "message_text.h"
#include "note_rules.h"

namespace {

// Of many values, the changes tried come from the commonest, which
// decide how the tune sounds; each try costs a pass over every value.
constexpr std::size_t values_tried = 16;

rhythm rhythm_at(std::vector<note_value> values, double scale, std::int64_t longest) {
  rhythm r;
  double written = 0, wanted = 0;
  for (note_value &v : values) {
    const double rounded = std::round(scale * v.target);
    v.vanishes = rounded < 1;
    v.units = static_cast<std::int64_t>(std::clamp(rounded, 1.0, static_cast<double>(longest)));
    written += static_cast<double>(v.notes) * static_cast<double>(v.units);
    wanted += static_cast<double>(v.notes) * v.target;
  }
  r.played = written / wanted;
  for (std::size_t i = 0; i < values.size(); ++i) {
    note_value &v = values[i];
    v.error = static_cast<double>(v.units) / (r.played * v.target) - 1.0;
    r.vanishing = r.vanishing || v.vanishes;
    if (std::fabs(v.error) > r.worst || i == 0) {
      r.worst = std::fabs(v.error);
      r.worst_value = i;
    }
  }
  r.values = std::move(values);
  return r;
}

bool better(const rhythm &a, const rhythm &b) {
  if (a.vanishing != b.vanishing) return !a.vanishing;
  const double ea = std::ceil(a.worst * 100 - 1e-9), eb = std::ceil(b.worst * 100 - 1e-9);
  if (ea != eb) return ea < eb;
  return std::fabs(1 / a.played - 1) < std::fabs(1 / b.played - 1);
}

}  // namespace

rhythm best_rhythm(const std::vector<note_value> &values, std::int64_t longest) {
  rhythm best = rhythm_at(values, 1.0, longest);
  std::vector<const note_value *> tried;
  for (const note_value &v : values) tried.push_back(&v);
  std::stable_sort(tried.begin(), tried.end(), [](const note_value *a, const note_value *b) { return a->notes > b->notes; });
  if (tried.size() > values_tried) tried.resize(values_tried);
  // Scales of the length whose tempo is within the widest change.
  const double low = 1 / (1 + widest_tempo_change), high = 1 / (1 - widest_tempo_change);
  for (const note_value *v : tried) {
    const double first = std::max(1.0, std::floor(low * v->target));
    const double last = std::min(static_cast<double>(longest), std::ceil(high * v->target));
    // A long value has many whole counts within the range; a few hundred,
    // evenly spread, find the best closely enough.
    const double step = std::max(1.0, std::floor((last - first) / 256));
    for (double u = first; u <= last; u += step) {
      const double scale = u / v->target;
      if (scale < low || scale > high) continue;
      const rhythm r = rhythm_at(values, scale, longest);
      if (better(r, best)) best = r;
    }
  }
  return best;
}

bool keeps_the_tune(const rhythm &r) {
  return !r.vanishing && r.worst <= close_enough + 1e-9 && std::fabs(1 / r.played - 1) <= widest_tempo_change + 1e-9;
}

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

namespace {

// A multiplier as melodyc reads it after the octave digit: "" for 1,
// ".25" rather than "0.25".
std::string multiplier_text(double multiplier, int decimals) {
  std::string s = plain_number(multiplier, decimals);
  if (s == "1") return "";
  if (s.rfind("0.", 0) == 0) s.erase(0, 1);
  return s;
}

}  // namespace

std::string duration_text(const std::string &name, int base, int units) {
  // Half a unit is the most that still rounds to 0.
  const double multiplier = units == 0 ? 0.4 / base : static_cast<double>(units) / base;
  std::string text;
  for (int decimals = 0; decimals <= 12; ++decimals) {
    text = multiplier_text(multiplier, decimals);
    const note_outcome outcome = apply_note((name + text).c_str(), static_cast<unsigned>(base));
    if (outcome.error == note_error::none && outcome.units == units) break;
  }
  return text;
}

std::string tempo_token(int base) {
  std::string tempo;
  for (int precision = 3; precision <= 9; ++precision) {
    tempo = plain_number(8.0 / base, precision);
    if (apply_tempo(tempo.c_str()).base_duration == static_cast<unsigned>(base)) break;
  }
  return tempo;
}
