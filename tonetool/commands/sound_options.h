// What wav and play share: the options of rendering, and the refusal of
// an input with no records.
#pragma once

#include <string>
#include <vector>

#include "command_io.h"
#include "command_table.h"
#include "sound/render.h"
#include "tone_records.h"

// Reads the first records of `reader` ahead, for `command`: false, after
// saying why and closing the input, for a melody text or an input with no
// records at all, which no sound is made of (so that a pipe whose first
// command failed does not end in a silent file).
bool start_sound_input(command_input &in, tone_reader &reader, const char *command);

// The options wav and play share: how the records are rendered.
std::vector<option_entry> rendering_options(render_settings &settings);

// A unit shorter than half a sample would render every record as none:
// the usage error that says so, or "" for a unit that renders.
std::string unit_problem(const render_settings &settings);
