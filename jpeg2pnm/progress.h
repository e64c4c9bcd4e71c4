// A batch's progress on standard error: one line that overwrites itself a
// few times a second ("37/200 files, 12 s, about 52 s left"), cleared at
// the end and followed by one closing line ("200 written", "197 written,
// 3 failed"). Messages about single files still come each on a line of
// their own: every message goes through say_line, which clears the
// progress line first. One batch a process.
#pragma once

#include <cstddef>
#include <string>

// Starts showing the progress of `total` files (nothing is shown when
// `shown` is false; say_line still works).
void start_progress(std::size_t total, bool shown);

// One more file finished: written, written with damage warnings, or failed.
void count_finished(bool failed, bool damaged);

// Stops, clears the line and, when the progress was shown, writes the
// closing line.
void stop_progress();

// Writes `line` (a whole line, its newline included) to standard error
// in one call, never in the middle of the progress line: jpeg2pnm's line
// writer for every message (diagnostics.h).
void say_line(const std::string &line);
