// What every tonetool command's line shares: the program's name, the
// options several commands take, and one way to parse a command's line.
#pragma once

#include <string>
#include <vector>

#include "command_table.h"

inline constexpr char program_name[] = "tonetool";

// The options several commands share.
option_entry output_option(std::string &output, const char *help);
option_entry unit_option(double &unit_ms, const char *help);
option_entry transpose_option(bool &given, int &semitones);

// Parses a command's line by its table. Returns -1 to run the command with
// `operands`, else the status to end with: 0 after its help, 2 after a
// usage error pointing to that help.
int parse_subcommand(const command_form &form, int argc, char **argv, std::vector<std::string> &operands);
