// Formatting for messages: names and values quoted, getopt's refusals
// in words, numbers as messages write them.
#include "message_text.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

std::size_t utf8_length(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const std::size_t n = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4                      ? 4
                                                                            : 0;
  if (n == 0 || i + n > text.size()) return 0;
  // The second byte's range rules out overlong forms and surrogates.
  const auto second = static_cast<unsigned char>(text[i + 1]);
  const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (second < low || second > high) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

namespace {

// Whether the byte at name[i] stays as it is in a message: printable
// ASCII, or part of a whole UTF-8 character (`pending` counts the bytes
// of the current one still to come).
bool shown_as_is(const std::string &name, std::size_t i, std::size_t &pending) {
  const auto b = static_cast<unsigned char>(name[i]);
  if (pending > 0) {
    --pending;
    return true;
  }
  if (b < 0x80) return b >= 0x20 && b != 0x7F;
  const std::size_t n = utf8_length(name, i);
  if (n == 0) return false;
  pending = n - 1;
  return true;
}

}  // namespace

std::string quoted_name(const std::string &name) {
  bool plain = !name.empty();
  std::size_t pending = 0;
  for (std::size_t i = 0; i < name.size(); ++i) plain = plain && shown_as_is(name, i, pending);
  if (plain) return name;
  std::string text = "'";
  pending = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const auto b = static_cast<unsigned char>(c);
    const bool as_is = shown_as_is(name, i, pending);
    switch (c) {
      case '\n': text += "\\n"; break;
      case '\t': text += "\\t"; break;
      case '\r': text += "\\r"; break;
      case '\\': text += "\\\\"; break;
      case '\'': text += "\\'"; break;
      default:
        if (!as_is) {
          char escape[5];
          std::snprintf(escape, sizeof escape, "\\x%02x", b);
          text += escape;
        } else {
          text += c;
        }
    }
  }
  return text + "'";
}

std::string quoted_value(const std::string &value) {
  const std::string text = quoted_name(value);
  return text.front() == '\'' && text.size() > 1 && text != value ? text : "'" + text + "'";
}

std::string option_error(char **argv, const option *long_options, int result) {
  // getopt_long leaves optind after the word it refused.
  const std::string word = quoted_name(argv[optind - 1] != nullptr ? argv[optind - 1] : "");
  const bool is_long = std::strncmp(argv[optind - 1], "--", 2) == 0;
  if (result == ':') {
    if (!is_long && optopt > 0) return std::string("option '-") + static_cast<char>(optopt) + "' needs a value";
    return "option '" + word.substr(0, word.find('=')) + "' needs a value";
  }
  if (!is_long) {
    if (optopt > 0 && optopt < 256) return std::string("unknown option '-") + static_cast<char>(optopt) + "'";
    return "unknown option '" + word + "'";
  }
  // An abbreviation that fits long options of different meanings.
  const char *const name = argv[optind - 1] + 2;
  const std::string given(name, std::strcspn(name, "="));
  std::vector<const option *> fits;
  for (const option *o = long_options; o->name != nullptr; ++o) {
    if (std::strncmp(o->name, given.c_str(), given.size()) != 0) continue;
    bool same_meaning = false;
    for (const option *f : fits) same_meaning |= f->val == o->val && f->has_arg == o->has_arg;
    if (!same_meaning) fits.push_back(o);
  }
  if (fits.size() > 1 && !given.empty()) {
    std::string text = "option '--" + quoted_name(given) + "' is ambiguous; possibilities:";
    for (const option *f : fits) text += std::string(" '--") + f->name + "'";
    return text;
  }
  if (fits.size() == 1 && !given.empty() && std::strchr(argv[optind - 1], '=') != nullptr &&
      fits.front()->has_arg == no_argument) {
    return std::string("option '--") + fits.front()->name + "' takes no value";
  }
  return "unknown option '" + word + "'";
}

std::string whole_percent(double ratio) { return std::to_string(static_cast<int>(std::lround(ratio * 100))); }

std::string with_decimals(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string signed_percent(double ratio) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.1f%%", 100.0 * ratio);
  return text;
}

std::string plain_number(double value, int decimals) {
  char text[400];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string s = text;
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s;
}
