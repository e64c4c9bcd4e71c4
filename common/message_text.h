// Texts the command-line programs put in their messages.
#pragma once

#include <getopt.h>

#include <string>
#include <string_view>

// Bytes of the UTF-8 character that starts at text[i]; 0 when none does.
std::size_t utf8_length(std::string_view text, std::size_t i);

// A file name as a message shows it: as it is, unless it holds control
// characters or bytes of no UTF-8 character; then in single quotes with C
// escapes (\n, \t, \x1b, \xc3, \\, \'), so that every message stays on one
// line and is valid UTF-8.
std::string quoted_name(const std::string &name);

// A value the user gave, as a message shows it: always in single quotes,
// with the same escapes.
std::string quoted_value(const std::string &value);

// The message for the option getopt_long has just refused (it returned
// '?' or ':' with opterr 0): unknown, ambiguous (naming the candidates) or
// missing its value.
std::string option_error(char **argv, const option *long_options, int result);

// A whole-number percentage: "30".
std::string whole_percent(double ratio);

// Numbers as the messages and melody texts write them: `value` with
// `decimals` decimals; a ratio as a signed percentage ("+4.2%"); at most
// `decimals` decimals without trailing zeros.
std::string with_decimals(double value, int decimals);
std::string signed_percent(double ratio);
std::string plain_number(double value, int decimals);
