// One output of a program, the one way every program here writes: a file
// the user named, written as output_file writes files (complete or not at
// all), or standard output for "-" or no name. It owns the whole
// sequence (open, write, commit or discard) and the name messages give
// it.
#pragma once

#include <cstdio>
#include <string>

#include "output_file.h"

struct program_output {
  bool to_stdout = true;
  std::string path;            // as the user named it, for a file
  output_file file;            // a file's state
  std::FILE *stream = nullptr;  // where the content goes
};

// Opens the output named `path` ("" or "-": standard output). False with
// `error` set to the reason; messages name the output by output_label.
bool open_program_output(program_output &out, const std::string &path, std::string &error);

// "(standard output)", or the file's name as messages show it.
std::string output_label(const program_output &out);

// Finishes the output: standard output flushed, a file put in place. False with `error` set; a file then leaves nothing behind.
bool commit_program_output(program_output &out, std::string &error);

// Abandons the output: a file's new content is removed; what reached
// standard output stays. Harmless on one committed or discarded already.
void discard_program_output(program_output &out);

// Writes `content` whole to the output named `path` and commits it;
// reported on failure, when nothing of it is left.
bool write_whole_output(const std::string &path, const std::string &content);
