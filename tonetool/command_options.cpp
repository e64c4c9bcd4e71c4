// Options several tonetool commands take.
#include "command_options.h"

#include <deque>

option_entry output_option(std::string &output, const char *help) {
  return value_option("output", 'o', "OUT", help, take_name("-o", "file", output));
}

option_entry unit_option(double &unit_ms, const char *use) {
  // The help lives as long as the program: one text for each use.
  static std::deque<std::string> helps;  // where each text stays
  helps.push_back(std::string("milliseconds per duration unit, above 0 up to 60000\n(default 125)") + use);
  return value_option("unit-ms", 0, "MS", helps.back().c_str(), [&unit_ms](const std::string &value) {
    double number = 0;
    if (!parse_decimal(value, 0, 60000, true, number)) {
      return invalid_value("unit", value, "milliseconds, above 0 up to 60000");
    }
    unit_ms = number;
    return std::string();
  });
}

option_entry transpose_option(bool &given, int &semitones) {
  return value_option("transpose", 0, "N", "move every note by N semitones, -96 to 96, instead of\nthe automatic octave shift",
                      [&given, &semitones](const std::string &v) {
                        given = true;
                        return take_whole(v, -96, 96, "transposition", "whole semitones, -96 to 96", semitones);
                      });
}

option_entry approximate_option() {
  return hidden_option("approximate", nullptr, [](const std::string &) { return std::string(); });
}
