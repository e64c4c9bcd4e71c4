// Parsing command lines by their option tables, and the help and usage
// errors made from the same tables.
#include "command_table.h"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "diagnostics.h"
#include "message_text.h"

namespace {

// The value getopt_long returns for the table's entry `i`: past every
// letter, so that short and long names of one entry meet in one place.
constexpr int first_long_value = 256;
// --version's value: below every entry's, above every letter.
constexpr int version_value = first_long_value - 1;

// "Try 'tonetool list --help' for more information."
std::string help_pointer(const command_form &form) {
  std::string name = form.program;
  if (form.command != nullptr) name += std::string(" ") + form.command;
  return "Try '" + name + " --help' for more information.";
}

}  // namespace

parsed_command parse_command(const command_form &form, int argc, char **argv) {
  parsed_command result;
  std::vector<option> table;
  std::string letters = ":h";
  std::size_t meaning = 0;  // the entry an alias stands for: the last one that is not an alias
  for (std::size_t i = 0; i < form.options.size(); ++i) {
    const option_entry &e = form.options[i];
    if (e.kind == option_kind::heading) continue;
    if (e.kind != option_kind::alias) meaning = i;
    table.push_back({e.name, e.value != nullptr ? required_argument : no_argument, nullptr,
                     first_long_value + static_cast<int>(meaning)});
    if (e.letter != 0) {
      letters += e.letter;
      if (e.value != nullptr) letters += ':';
    }
  }
  if (form.has_version) table.push_back({"version", no_argument, nullptr, version_value});
  table.push_back({"help", no_argument, nullptr, 'h'});
  table.push_back({nullptr, 0, nullptr, 0});
  optind = 0;  // start afresh: glibc re-initialises on 0
  opterr = 0;  // messages are ours
  for (int opt; (opt = getopt_long(argc, argv, letters.c_str(), table.data(), nullptr)) != -1;) {
    if (opt == 'h' || opt == version_value) {
      result.outcome = opt == 'h' ? command_outcome::help : command_outcome::version;
      return result;
    }
    std::size_t index = form.options.size();
    if (opt >= first_long_value) {
      index = static_cast<std::size_t>(opt - first_long_value);
    } else {
      for (std::size_t i = 0; i < form.options.size(); ++i) {
        if (opt != '?' && opt != ':' && form.options[i].kind != option_kind::heading &&
            form.options[i].letter == opt) {
          index = i;
        }
      }
    }
    if (index == form.options.size()) {
      result.outcome = command_outcome::usage_error;
      result.error = option_error(argv, table.data(), opt);
      return result;
    }
    const std::string problem = form.options[index].take(optarg != nullptr ? optarg : "");
    if (!problem.empty()) {
      result.outcome = command_outcome::usage_error;
      result.error = problem;
      return result;
    }
  }
  for (int i = optind; i < argc; ++i) result.operands.emplace_back(argv[i]);
  return result;
}

std::string help_text(const command_form &form) {
  std::string text = std::string("Usage: ") + form.program + (form.command ? std::string(" ") + form.command : "") +
                     " " + form.synopsis + "\n" + form.about;
  // Rows of an option, or of a heading (an empty label and its title).
  std::vector<std::pair<std::string, const char *>> rows;
  for (const option_entry &e : form.options) {
    if (e.kind == option_kind::heading) {
      rows.emplace_back("", e.help);
      continue;
    }
    if (e.kind != option_kind::listed) continue;
    std::string label = e.letter != 0 ? std::string("-") + e.letter + ", " : "    ";
    label += std::string("--") + e.name + (e.value != nullptr ? std::string("=") + e.value : "");
    rows.emplace_back(label, e.help);
  }
  const bool grouped = std::any_of(form.options.begin(), form.options.end(),
                                   [](const option_entry &e) { return e.kind == option_kind::heading; });
  if (grouped) rows.emplace_back("", "Information");
  if (form.has_version) rows.emplace_back("    --version", "show the version and exit");
  rows.emplace_back("-h, --help", "show this help and exit");
  std::size_t width = 0;
  for (const auto &[label, help] : rows) width = std::max(width, label.size());
  text += "\n";
  for (const auto &[label, help] : rows) {
    if (label.empty()) {
      text += std::string(text.ends_with("\n\n") ? "" : "\n") + help + ":\n";
      continue;
    }
    std::string lines = help;
    std::string indent = "  " + label + std::string(width - label.size() + 2, ' ');
    for (std::size_t start = 0; start <= lines.size();) {
      const std::size_t end = std::min(lines.find('\n', start), lines.size());
      text += indent + lines.substr(start, end - start) + "\n";
      indent.assign(width + 4, ' ');
      start = end + 1;
    }
  }
  if (*form.epilogue != '\0') text += std::string("\n") + form.epilogue;
  return text;
}

option_entry alias_option(const char *name, const char *value) {
  return {.name = name, .letter = 0, .value = value, .help = nullptr, .take = nullptr, .kind = option_kind::alias};
}

option_entry hidden_option(const char *name, const char *value, std::function<std::string(const std::string &)> take) {
  return {.name = name, .letter = 0, .value = value, .help = nullptr, .take = std::move(take), .kind = option_kind::hidden};
}

option_entry option_heading(const char *title) {
  return {.name = "", .letter = 0, .value = nullptr, .help = title, .take = nullptr, .kind = option_kind::heading};
}

option_entry value_option(const char *name, char letter, const char *value, const char *help,
                          std::function<std::string(const std::string &)> take) {
  return {.name = name, .letter = letter, .value = value, .help = help, .take = std::move(take)};
}

option_entry switch_option(const char *name, char letter, const char *help,
                           std::function<std::string(const std::string &)> take) {
  return {.name = name, .letter = letter, .value = nullptr, .help = help, .take = std::move(take)};
}

int usage_error(const command_form &form, const std::string &message) {
  const std::string command = form.command != nullptr ? std::string(form.command) + ": " : "";
  say_plain_line(std::string(form.program) + ": " + command + message);
  say_plain_line(help_pointer(form));
  return status_usage;
}

namespace {

// Every number on a command line: decimal digits, with a fraction after a
// '.' where `fraction` allows it, and a sign only where `signed_value`
// says negatives mean something. No hex, no exponent, no spaces.
bool well_formed_number(const std::string &text, bool signed_value, bool fraction) {
  std::size_t i = signed_value && !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  bool digits = false, point = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      digits = true;
    } else if (text[i] == '.' && fraction && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

}  // namespace

bool parse_whole(const std::string &text, std::int64_t low, std::int64_t high, std::int64_t &value) {
  if (!well_formed_number(text, low < 0, false)) return false;
  const bool negative = text[0] == '-';
  // Every value of the type, each digit checked against overflow.
  std::uint64_t magnitude = 0;
  for (std::size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0; i < text.size(); ++i) {
    const auto digit = static_cast<unsigned>(text[i] - '0');
    if (magnitude > (UINT64_MAX - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  const std::uint64_t most = static_cast<std::uint64_t>(INT64_MAX) + (negative ? 1 : 0);
  if (magnitude > most) return false;
  value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return value >= low && value <= high;
}

bool parse_decimal(const std::string &text, double low, double high, bool open_low, double &value) {
  if (!well_formed_number(text, low < 0, true)) return false;
  errno = 0;
  char *end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return *end == '\0' && errno == 0 && std::isfinite(value) && (open_low ? value > low : value >= low) &&
         value <= high;
}

std::function<std::string(const std::string &value)> take_name(const char *option, const char *kind,
                                                              std::string &target) {
  return [option, kind, &target](const std::string &v) {
    if (v.empty()) return std::string("option '") + option + "' needs a " + kind + " name, not ''";
    target = v;
    return std::string();
  };
}

option_entry flag_option(const char *name, const char *help, bool &flag) {
  return switch_option(name, 0, help, [&flag](const std::string &) {
    flag = true;
    return std::string();
  });
}

std::string range_text(const whole_number &number) {
  if (number.meaning != nullptr) return number.meaning;
  const std::string range = std::to_string(number.low) + " to " + std::to_string(number.high);
  return number.unit != nullptr ? std::string(number.unit) + ", " + range : range;
}

std::string invalid_value(const char *what, const std::string &text, const char *meaning) {
  return std::string("invalid ") + what + " " + quoted_value(text) + " (" + meaning + ")";
}
