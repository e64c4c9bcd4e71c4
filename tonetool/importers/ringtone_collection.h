// Files of many ringtones, as collections hold them: one a line (a
// ringtone's notes may run on to the lines after its own), with blank
// lines and comment lines (#, ; or //) between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One ringtone of a file: its bytes, and the line it starts on.
struct ringtone_entry {
  std::size_t begin, end;
  std::int64_t first_line;  // 1-based
};

// The ringtones of `text`, in order: each starts on a line that holds a
// name and its defaults (two ':'); a text with none is one entry, whole.
std::vector<ringtone_entry> split_ringtones(std::string_view text);

// A file name for each of `names` (the ringtones' names, in order), made
// of letters, digits, '.', '-' and '_' (others become '_'), ending in
// ".mel": one that is empty, starts with '.', or was taken already is the
// ringtone's index instead ("7.mel"), so that every name is safe and used
// once.
std::vector<std::string> ringtone_file_names(const std::vector<std::string> &names);
