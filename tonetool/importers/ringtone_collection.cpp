// A file of many ringtones: split into tunes, and safe file names for
// each.
#include "ringtone_collection.h"

#include <algorithm>
#include <set>

namespace {

bool comment_or_blank(std::string_view line) {
  const std::size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return true;
  const std::string_view rest = line.substr(first);
  return rest[0] == '#' || rest[0] == ';' || rest.substr(0, 2) == "//";
}

}  // namespace

std::vector<ringtone_entry> split_ringtones(std::string_view text) {
  std::vector<ringtone_entry> entries;
  bool open = false;  // the last entry may take more lines
  std::int64_t line_number = 1;
  for (std::size_t start = 0; start < text.size(); ++line_number) {
    const std::size_t newline = text.find('\n', start);
    const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
    const std::string_view line = text.substr(start, end - start);
    if (comment_or_blank(line)) {
      open = false;
    } else if (std::count(line.begin(), line.end(), ':') >= 2 || !open) {
      entries.push_back({start, end, line_number});
      open = true;
    } else {
      entries.back().end = end;
    }
    start = newline == std::string_view::npos ? text.size() : newline + 1;
  }
  if (entries.empty()) entries.push_back({0, text.size(), 1});
  return entries;
}

std::vector<std::string> ringtone_file_names(const std::vector<std::string> &names) {
  std::vector<std::string> files;
  std::set<std::string> taken;
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string safe;
    for (const char c : names[i]) {
      const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '-' || c == '_';
      safe += kept ? c : '_';
    }
    std::string file = safe + ".mel";
    if (safe.empty() || safe[0] == '.' || safe.size() > 200 || taken.count(file) > 0) {
      file = std::to_string(i + 1) + ".mel";
      while (taken.count(file) > 0) file = std::to_string(i + 1) + "-" + file;
    }
    taken.insert(file);
    files.push_back(file);
  }
  return files;
}
