// Renders tone records as a square-wave signal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "tone_records.h"

struct render_settings {
  double unit_ms = 125.0;  // length of one duration unit
  int rate = 44100;        // samples per second
  double volume = 0.5;     // peak amplitude, 0 to 1 of full scale
};

// Length of each tone's ramp in and out, so that every tone starts and
// ends at silence and no click sounds between notes.
inline constexpr double ramp_ms = 2.0;

// Sample index at which the tone after `units` duration units starts; the
// rounding never accumulates, so the total is exact.
std::int64_t sample_at(std::int64_t units, const render_settings &settings);

// Samples in the whole rendering of `tones`.
std::int64_t rendered_length(const std::vector<tone> &tones, const render_settings &settings);

// 16-bit mono samples: each tone a square wave of 1,500,000 / period Hz
// for duration * unit, each pause silence. tonetool itself renders block by
// block (render_more); this whole-buffer rendering is the reference the
// blocks are tested against, kept beside them so the two share one shape.
std::vector<std::int16_t> render_tones(const std::vector<tone> &tones,
                                       const render_settings &settings);

// Where a rendering that goes on block by block stands: the duration
// units of the tones rendered so far.
struct render_position {
  std::int64_t units = 0;
};

// The samples of `tones`, which follow those rendered up to `position`,
// handed to `emit` in consecutive blocks of at most render_block_samples,
// so that memory stays flat whatever the length. Stops, returning false,
// when `emit` returns false.
inline constexpr std::size_t render_block_samples = 1 << 16;
using sample_sink = std::function<bool(const std::int16_t *, std::size_t)>;
bool render_more(render_position &position, const std::vector<tone> &tones, const render_settings &settings,
                 const sample_sink &emit);

// Renders every record `reader` delivers, block by block as they arrive;
// false when `emit` fails. A read error or a partial record only ends the
// records: the reader holds it for the caller to report.
bool render_stream(tone_reader &reader, const render_settings &settings, const sample_sink &emit);
