#include "render.h"

#include <algorithm>
#include <cmath>

std::int64_t sample_at(std::int64_t units, const render_settings &settings) {
  return std::llround(static_cast<double>(units) * settings.unit_ms * settings.rate / 1000.0);
}

std::vector<std::int16_t> render_tones(const std::vector<tone> &tones,
                                       const render_settings &settings) {
  std::int64_t total_units = 0;
  for (const tone &t : tones) total_units += t.duration;
  std::vector<std::int16_t> samples(static_cast<std::size_t>(sample_at(total_units, settings)), 0);

  const double peak = settings.volume * 32767.0;
  const std::int64_t ramp = std::max<std::int64_t>(1, std::llround(ramp_ms * settings.rate / 1000.0));
  std::int64_t units = 0;
  for (const tone &t : tones) {
    const std::int64_t begin = sample_at(units, settings);
    units += t.duration;
    const std::int64_t end = sample_at(units, settings);
    if (t.period == 0) continue;  // a pause: the samples stay 0
    const double cycles_per_sample = tone_frequency(t) / settings.rate;
    const std::int64_t length = end - begin;
    const std::int64_t edge = std::min(ramp, length / 2);
    for (std::int64_t i = 0; i < length; ++i) {
      // The phase restarts with each tone, so every tone begins on a rising
      // edge; the first half of each cycle is high.
      const double phase = std::fmod(static_cast<double>(i) * cycles_per_sample, 1.0);
      double level = phase < 0.5 ? 1.0 : -1.0;
      const std::int64_t from_edge = std::min(i, length - 1 - i);
      if (from_edge < edge) level *= static_cast<double>(from_edge) / static_cast<double>(edge);
      samples[static_cast<std::size_t>(begin + i)] = static_cast<std::int16_t>(std::lround(level * peak));
    }
  }
  return samples;
}
