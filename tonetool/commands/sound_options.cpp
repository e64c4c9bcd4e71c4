// Rendering options and the empty-input check, for wav and play.
#include "sound_options.h"

#include <cmath>

#include "command_options.h"
#include "diagnostics.h"
#include "message_text.h"

namespace {

// An input with no records at all: said.
bool no_records(const command_input &in, const tone_reader &reader) {
  if (!reader.pending.empty() || !reader.read_error.empty() || reader.carried_bytes > 0) return false;
  report(input_label(in), "no tone records: the input is empty (did the command before it in a pipe fail?)");
  return true;
}

}  // namespace

bool start_sound_input(command_input &in, tone_reader &reader, const char *command) {
  read_first_records(reader);
  if (!reader.melody_text && !no_records(in, reader)) return true;
  finish_reading(in, reader, command);
  return false;
}

// The options wav and play share: how the records are rendered.
std::vector<option_entry> rendering_options(render_settings &settings) {
  return {unit_option(settings.unit_ms),
          whole_option("rate", 0, "HZ", "sample rate, whole hertz from 8000 to 192000\n(default 44100)",
                       {8000, 192000, "rate", "whole hertz"}, settings.rate),
          value_option("volume", 0, "V", "peak level, above 0 up to 1 (default 0.5)",
                       [&settings](const std::string &v) {
             if (!parse_decimal(v, 0, 1, true, settings.volume)) return invalid_value("volume", v, "above 0 up to 1");
             return std::string();
           })};
}

// A unit shorter than half a sample would render every record as none:
// the usage error that says so, or "" for a unit that renders.
std::string unit_problem(const render_settings &settings) {
  if (std::llround(settings.unit_ms * settings.rate / 1000.0) >= 1) return "";
  return "--unit-ms " + plain_number(settings.unit_ms, 9) + " renders a unit as no sample at " +
         std::to_string(settings.rate) + " Hz; give at least " +
         plain_number(std::ceil(500000.0 / settings.rate) / 1000, 3);
}
