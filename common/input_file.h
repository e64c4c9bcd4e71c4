// Opening a program's inputs, and naming them in messages, the same way in
// every program.
#pragma once

#include <cstdio>
#include <string>

// How messages name an input: "(standard input)" for "-", else the name,
// quoted when it holds odd bytes.
std::string input_name(const std::string &name);

// Opens `name` for reading; "-" is standard input. A folder is refused
// here, since reading one fails only later and less clearly. nullptr with
// `error` set ("cannot open: REASON" or "is a directory, not KIND").
std::FILE *open_input_file(const std::string &name, const char *kind, std::string &error);

// Closes an input that open_input_file opened, unless it is standard input.
void close_input_file(std::FILE *in);
