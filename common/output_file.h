// Output files that appear only when complete: written under a temporary
// name beside the target and renamed over it on success.
#pragma once

#include <cstdio>
#include <string>

struct pending_file {
  std::FILE *stream = nullptr;
  std::string temporary_path;
};

// Opens a new temporary file in the folder of `target`. On failure returns
// a pending_file without a stream and sets `error`.
pending_file open_pending(const std::string &target, std::string &error);

// Closes the stream and renames it to `target`; on any failure removes the
// temporary file and sets `error`.
bool commit_pending(pending_file &file, const std::string &target, std::string &error);

// Closes and removes the temporary file.
void discard_pending(pending_file &file);
