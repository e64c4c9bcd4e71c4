// What every tonetool command shares: its messages, the options several
// commands take, the one input (FILE or standard input) and whole outputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "command_table.h"
#include "diagnostics.h"
#include "tone_records.h"

inline constexpr char program_name[] = "tonetool";


// The options several commands share.
option_entry output_option(std::string &output, const char *help);
option_entry unit_option(double &unit_ms, const char *help);
option_entry transpose_option(bool &given, int &semitones);

// Parses a command's line by its table. Returns -1 to run the command with
// `operands`, else the status to end with: 0 after its help, 2 after a
// usage error pointing to that help.
int parse_subcommand(const command_form &form, int argc, char **argv, std::vector<std::string> &operands);

struct input_file {
  std::string name;  // "-" for standard input
  std::FILE *stream = nullptr;
};

// Opens the command's one input: the operand, or standard input. Refuses
// an output that is the input file itself: `output`, or standard output
// for "" or "-". On
// failure reports it and sets `status`.
bool open_input(const std::vector<std::string> &operands, const std::string &output, input_file &in, int &status);

// Closes the input unless it is standard input.
void close_input(input_file &in);

// The input's name as messages show it: "(standard input)" for "-".
std::string display(const input_file &in);

// Reads the whole tone stream and closes the input; reports a read error,
// more than `max_records` records (named `what` in the message) or a
// partial last record.
bool read_input(input_file &in, tone_stream &stream, std::size_t max_records, const char *what);

// Once `reader` has met the end of the input: reports a read error or a
// partial last record, and closes the input; true when the input was
// whole.
bool finish_reading(input_file &in, const tone_reader &reader);

// Reads the whole input as text, at most `limit` bytes, and closes it;
// reports a read error or a longer input.
bool read_text(input_file &in, std::size_t limit, std::string &text);

// Puts `content` in `path` (with open_output's care) or, for "" or "-", on
// standard output. Reports a failure, naming the output.
bool write_whole_output(const std::string &path, const std::string &content);
