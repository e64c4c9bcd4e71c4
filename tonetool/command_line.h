// What every tonetool command shares: its messages, the number options,
// the one input (FILE or standard input) and whole outputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tone_records.h"

inline constexpr char program_name[] = "tonetool";

enum exit_status { status_ok = 0, status_failed = 1, status_usage = 2 };

// "tonetool: MESSAGE" and the pointer to --help, on standard error;
// returns status_usage.
int usage_error(const std::string &message);

// A decimal number within [low, high] (low excluded when `open_low`).
bool parse_real(const char *text, double low, double high, bool open_low, double &value);

// The value of --unit-ms: milliseconds, above 0 up to 60000. A bad one is
// a usage error, its status in `status`.
bool take_unit_ms(const std::string &value, double &unit_ms, int &status);

// A whole number from `low` to `high`; a bad one is the usage error
// "invalid WHAT 'VALUE' (MEANING)", its status in `status`.
bool take_whole(const std::string &value, int low, int high, const char *what, const char *meaning,
                int &number, int &status);

struct input_file {
  std::string name;  // "-" for standard input
  std::FILE *stream = nullptr;
};

// Opens the command's one input: the operand left after the options at
// argv[optind], or standard input. On failure reports it and sets `status`.
bool open_input(int argc, char **argv, input_file &in, int &status);

// Closes the input unless it is standard input.
void close_input(input_file &in);

// The input's name as messages show it.
std::string display(const input_file &in);

// Reads the whole tone stream and closes the input; reports a read error,
// or more than `max_records` records (named `what` in the message).
bool read_input(input_file &in, tone_stream &stream, std::size_t max_records = SIZE_MAX,
                const char *what = "");

// Reports a partial last record; true when there was one.
bool report_partial(const input_file &in, const tone_stream &stream);

// Once `reader` has met the end of the input: reports a read error or a
// partial last record, and closes the input; true when the input was
// whole.
bool finish_reading(input_file &in, const tone_reader &reader);

// Reads the whole input as text, at most `limit` bytes, and closes it;
// reports a read error or a longer input.
bool read_text(input_file &in, std::size_t limit, std::string &text);

// Takes the value of "-o OUT"; an empty one is a usage error, its status
// in `status`.
bool take_output(const char *command, const std::string &value, std::string &output, int &status);

// open_input, refusing an output (other than "" or "-") that is the input
// file itself.
bool open_input_for(int argc, char **argv, const std::string &output, input_file &in, int &status);

// Puts `content` in `path` (with open_output's care) or, for "" or "-", on
// standard output. Reports a failure, naming the output.
bool write_whole_output(const std::string &path, const std::string &content);
