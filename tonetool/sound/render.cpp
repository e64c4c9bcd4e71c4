// Tone records rendered as square waves, sample by sample.
#include "render.h"

#include <algorithm>
#include <cmath>

std::int64_t sample_at(std::int64_t units, const render_settings &settings) {
  return std::llround(static_cast<double>(units) * settings.unit_ms * settings.rate / 1000.0);
}

namespace {

// Where a tone's samples lie and how they are made.
struct tone_shape {
  std::int64_t begin, length;
  double cycles_per_sample;  // 0 for a pause
  std::int64_t edge;         // samples of the ramp at each end
  double peak;
};

// Sample i of a tone. The phase restarts with each tone, so every tone
// begins on a rising edge; the first half of each cycle is high.
std::int16_t tone_sample(const tone_shape &t, std::int64_t i) {
  if (t.cycles_per_sample == 0) return 0;  // a pause
  const double phase = std::fmod(static_cast<double>(i) * t.cycles_per_sample, 1.0);
  double level = phase < 0.5 ? 1.0 : -1.0;
  const std::int64_t from_edge = std::min(i, t.length - 1 - i);
  if (from_edge < t.edge) level *= static_cast<double>(from_edge) / static_cast<double>(t.edge);
  return static_cast<std::int16_t>(std::lround(level * t.peak));
}

// Calls `each(shape)` for every tone in order, the first starting after
// `units` units.
template <typename F>
void for_each_tone(const std::vector<tone> &tones, const render_settings &settings, std::int64_t &units, F each) {
  const double peak = settings.volume * 32767.0;
  const std::int64_t ramp = std::max<std::int64_t>(1, std::llround(ramp_ms * settings.rate / 1000.0));
  for (const tone &t : tones) {
    const std::int64_t begin = sample_at(units, settings);
    units += t.duration;
    const std::int64_t length = sample_at(units, settings) - begin;
    const double cycles = t.period == 0 ? 0.0 : tone_frequency(t) / settings.rate;
    if (!each(tone_shape{begin, length, cycles, std::min(ramp, length / 2), peak})) return;
  }
}

}  // namespace

std::int64_t rendered_length(const std::vector<tone> &tones, const render_settings &settings) {
  std::int64_t total_units = 0;
  for (const tone &t : tones) total_units += t.duration;
  return sample_at(total_units, settings);
}

std::vector<std::int16_t> render_tones(const std::vector<tone> &tones,
                                       const render_settings &settings) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(rendered_length(tones, settings)), 0);
  std::int64_t units = 0;
  for_each_tone(tones, settings, units, [&](const tone_shape &t) {
    for (std::int64_t i = 0; i < t.length; ++i) {
      samples[static_cast<std::size_t>(t.begin + i)] = tone_sample(t, i);
    }
    return true;
  });
  return samples;
}

bool render_more(render_position &position, const std::vector<tone> &tones, const render_settings &settings,
                 const sample_sink &emit) {
  std::vector<std::int16_t> block(render_block_samples);
  std::size_t filled = 0;
  bool ok = true;
  for_each_tone(tones, settings, position.units, [&](const tone_shape &t) {
    for (std::int64_t i = 0; i < t.length; ++i) {
      block[filled++] = tone_sample(t, i);
      if (filled == render_block_samples) {
        ok = emit(block.data(), filled);
        filled = 0;
        if (!ok) return false;
      }
    }
    return true;
  });
  if (ok && filled > 0) ok = emit(block.data(), filled);
  return ok;
}

bool render_stream(tone_reader &reader, const render_settings &settings, const sample_sink &emit) {
  render_position position;
  std::vector<tone> block;
  while (read_tone_block(reader, block)) {
    if (!render_more(position, block, settings, emit)) return false;
  }
  return true;
}
