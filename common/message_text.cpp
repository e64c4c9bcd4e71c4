#include "message_text.h"

#include <cstdio>
#include <cstring>
#include <vector>

std::string quoted_name(const std::string &name) {
  bool plain = !name.empty();
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) plain = false;
  }
  if (plain) return name;
  std::string text = "'";
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case '\n': text += "\\n"; break;
      case '\t': text += "\\t"; break;
      case '\r': text += "\\r"; break;
      case '\\': text += "\\\\"; break;
      case '\'': text += "\\'"; break;
      default:
        if (b < 0x20 || b == 0x7F) {
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
