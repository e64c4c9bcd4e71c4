// Command lines declared as tables: each option with its names, its value,
// its help and what it does, parsed once for every program and subcommand
// (--opt=value, --opt value, -o value, unique abbreviations, -h and --help),
// with one form for usage errors and help texts made from the same table.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// How an option shows in the help: listed with its help; an alias,
// another spelling of the listed entry before it, which does what that
// entry does; hidden, an option of its own kept out of the help (one
// kept so that old command lines go on working); or no option at all but a
// heading over the rows after it in the help.
enum class option_kind { listed, alias, hidden, heading };

// One option. `take` applies the value (empty for a flag) and returns ""
// or what is wrong with it, as a usage error says it.
struct option_entry {
  const char *name;    // the long name: "unit-ms"
  char letter;         // the short name, or 0
  const char *value;   // the value's name in help ("MS"); nullptr for a flag
  const char *help;    // lines separated by '\n'; nullptr for an alias or a hidden option
  std::function<std::string(const std::string &value)> take;  // unused for an alias
  option_kind kind = option_kind::listed;
};

// Another spelling of the listed entry before it ("greyscale" after
// "grayscale"), and an option kept out of the help.
option_entry alias_option(const char *name, const char *value = nullptr);
option_entry hidden_option(const char *name, const char *value, std::function<std::string(const std::string &)> take);

// A heading ("Output") over the options after it in the help.
option_entry option_heading(const char *title);

// An option that takes a value named `value` in the help, and one that
// takes none; `take` applies it.
option_entry value_option(const char *name, char letter, const char *value, const char *help,
                          std::function<std::string(const std::string &)> take);
option_entry switch_option(const char *name, char letter, const char *help,
                           std::function<std::string(const std::string &)> take);

// A program, or one subcommand of it, and its options.
struct command_form {
  const char *program;   // "tonetool"
  const char *command;   // "list"; nullptr for the program itself
  const char *synopsis;  // what follows the name in the usage line: "[--unit-ms MS] [FILE]"
  const char *about;     // the text between the usage line and the options
  const char *epilogue;  // the text after the options ("" for none)
  std::vector<option_entry> options;
  bool has_version = false;  // --version, which the program answers (outcome version)
};

enum class command_outcome { run, help, version, usage_error };

struct parsed_command {
  command_outcome outcome = command_outcome::run;
  std::vector<std::string> operands;  // what follows the options
  std::string error;                  // for usage_error: one line
};

// Parses argv[1..argc) by the table, applying each option in order.
parsed_command parse_command(const command_form &form, int argc, char **argv);

// "Usage: PROGRAM COMMAND SYNOPSIS", the text about it, the options with
// their help aligned, and the epilogue.
std::string help_text(const command_form &form);

// "PROGRAM: MESSAGE" (for a subcommand "PROGRAM: COMMAND: MESSAGE") and
// the pointer to the command's own help, on standard error; returns 2, the
// status of a malformed command line.
int usage_error(const command_form &form, const std::string &message);

// Numbers as every command line here takes them: decimal digits, a
// fraction after a '.' for decimals, a sign ('-' or '+') only when `low`
// is negative; no hex, exponent or spaces. Whole numbers have up to 18
// digits, and lie from `low` to `high`; decimals lie above or from `low`
// up to `high`.
bool parse_whole(const std::string &text, std::int64_t low, std::int64_t high, std::int64_t &value);
bool parse_decimal(const std::string &text, double low, double high, bool open_low, double &value);

// The usage error of a value that is not a whole number from low to high:
// "invalid WHAT 'VALUE' (MEANING)"; "" when it is one, stored in `value`.
template <typename Number>
std::string take_whole(const std::string &text, std::int64_t low, std::int64_t high, const char *what,
                       const char *meaning, Number &value);

// What a whole-number option takes: its bounds, how usage errors name it
// ("job count"), and the unit its range is in ("whole hertz"); usage
// errors say "invalid WHAT 'VALUE' (UNIT, LOW to HIGH)", or the given
// `meaning` where the range alone would mislead.
struct whole_number {
  std::int64_t low, high;
  const char *what;
  const char *unit = nullptr;
  const char *meaning = nullptr;
};

// The range as usage errors give it: "whole hertz, 8000 to 192000".
std::string range_text(const whole_number &number);

// What an option that takes a name (of a file, a folder, a device) does
// with it: stores it in `target`, refusing an empty one as "option
// 'OPTION' needs a KIND name, not ''".
std::function<std::string(const std::string &value)> take_name(const char *option, const char *kind,
                                                              std::string &target);

// An option that sets `flag`, and one that takes a whole number into
// `target`.
option_entry flag_option(const char *name, const char *help, bool &flag);
template <typename Number>
option_entry whole_option(const char *name, char letter, const char *value, const char *help, whole_number number,
                          Number &target);

// Statuses every program shares: a value that cannot work for this input
// is a failure (1), a malformed command line a usage error (2).
enum program_status { status_ok = 0, status_failed = 1, status_usage = 2 };

// ---

std::string invalid_value(const char *what, const std::string &text, const char *meaning);

template <typename Number>
std::string take_whole(const std::string &text, std::int64_t low, std::int64_t high, const char *what,
                       const char *meaning, Number &value) {
  std::int64_t number = 0;
  if (!parse_whole(text, low, high, number)) return invalid_value(what, text, meaning);
  value = static_cast<Number>(number);
  return "";
}

template <typename Number>
option_entry whole_option(const char *name, char letter, const char *value, const char *help, whole_number number,
                          Number &target) {
  const std::string meaning = range_text(number);
  return value_option(name, letter, value, help, [=, &target](const std::string &text) {
    return take_whole(text, number.low, number.high, number.what, meaning.c_str(), target);
  });
}
