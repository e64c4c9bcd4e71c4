// What every tonetool command does with its one input (FILE or standard
// input) and its outputs: opening, reading records or text, and writing
// a whole output, each failure reported as one line.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "command_table.h"
#include "diagnostics.h"
#include "program_output.h"
#include "tone_records.h"

struct command_input {
  std::string name;  // "-" for standard input
  std::FILE *stream = nullptr;
};

// The start every command shares: its line parsed by its table, `check`
// (when given) run on the options it set, returning a usage error's text
// or "", and its one input opened (see open_input). True to go on with
// `in` open; false with `status` the status to end with: 0 after its help,
// 2 after a usage error pointing to that help, 1 when the input cannot be
// opened or is its own output.
bool start_command(const command_form &form, int argc, char **argv, const std::string &output, command_input &in,
                   int &status, const std::function<std::string()> &check = nullptr);

// Opens the command's one input: the operand, or standard input. Refuses
// an output that is the input file itself: `output`, or standard output
// for "" or "-". On
// failure reports it and sets `status`.
bool open_command_input(const std::vector<std::string> &operands, const std::string &output, command_input &in, int &status);

// Closes the input unless it is standard input.
void close_input(command_input &in);

// The input's name as messages show it: "(standard input)" for "-".
std::string input_label(const command_input &in);

// Reads the whole tone stream and closes the input; reports a read error,
// more than `max_records` records (named `what` in the message) or a
// partial last record.
bool read_input(command_input &in, tone_stream &stream, std::size_t max_records, const char *what);

// Once `reader` has met the end of the input: reports a read error or a
// partial last record, and closes the input; true when the input was
// whole.
bool finish_reading(command_input &in, const tone_reader &reader, const char *command);

// Reads the whole input as text, at most `limit` bytes, and closes it;
// reports a read error or a longer input.
bool read_text(command_input &in, std::size_t limit, std::string &text);

