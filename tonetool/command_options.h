// What every tonetool command's line shares: the program's name, the
// options several commands take, and one way to parse a command's line.
#pragma once

#include <string>
#include <vector>

#include "command_table.h"

inline constexpr char program_name[] = "tonetool";

// The options several commands share.
option_entry output_option(std::string &output, const char *help);
// --unit-ms, "milliseconds per duration unit, above 0 up to 60000
// (default 125)" and what `use` adds ("; play the melody at the same
// unit", or nothing).
option_entry unit_option(double &unit_ms, const char *use = "");
option_entry transpose_option(bool &given, int &semitones);
// --approximate: the nearest tune, which is what both importers write
// unless --strict; kept, hidden, so that scripts that give it go on
// working.
option_entry approximate_option();
