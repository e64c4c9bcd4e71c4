#include "command_options.h"

option_entry output_option(std::string &output, const char *help) {
  return {"output", 'o', "OUT", help, [&output](const std::string &value) {
            if (value.empty()) return std::string("option '-o' needs a file name, not ''");
            output = value;
            return std::string();
          }};
}

option_entry unit_option(double &unit_ms, const char *help) {
  return {"unit-ms", 0, "MS", help, [&unit_ms](const std::string &value) {
            double number = 0;
            if (!parse_decimal(value, 0, 60000, true, number)) {
              return invalid_value("unit", value, "milliseconds, above 0 up to 60000");
            }
            unit_ms = number;
            return std::string();
          }};
}

option_entry transpose_option(bool &given, int &semitones) {
  return {"transpose", 0, "N", "move every note by N semitones, -96 to 96, instead of\nthe automatic octave shift",
          [&given, &semitones](const std::string &v) {
            given = true;
            return take_whole(v, -96, 96, "transposition", "whole semitones, -96 to 96", semitones);
          }};
}

int parse_subcommand(const command_form &form, int argc, char **argv, std::vector<std::string> &operands) {
  const parsed_command parsed = parse_command(form, argc, argv);
  if (parsed.outcome == command_outcome::help) {
    std::fputs(help_text(form).c_str(), stdout);
    return status_ok;
  }
  if (parsed.outcome == command_outcome::usage_error) return usage_error(form, parsed.error);
  if (parsed.operands.size() > 1) return usage_error(form, "too many inputs: one FILE at most");
  operands = parsed.operands;
  return -1;
}
