// What wav and play share: the options of rendering, and the refusal of
// an input with no records.
#pragma once

#include <string>
#include <vector>

#include "command_io.h"
#include "command_table.h"
#include "sound/render.h"
#include "tone_records.h"

// An input with no records at all, which no sound is made of: said, so
// that a pipe whose first command failed does not end in a silent file.
bool no_records(const command_input &in, const tone_reader &reader);

// The options wav and play share: how the records are rendered.
std::vector<option_entry> rendering_options(render_settings &settings);

// A unit shorter than half a sample would render every record as none:
// the usage error that says so, or "" for a unit that renders.
std::string unit_problem(const render_settings &settings);
