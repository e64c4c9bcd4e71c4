// The end of a program's standard output: everything written to it must
// have arrived, including what some file systems report lost only when the
// file is closed.
#pragma once

#include <string>

// Flushes and closes standard output. False with `error` set ("write
// error: REASON") when anything written to it was lost.
bool close_standard_output(std::string &error);

// The status a program ends with: `status` when standard output closes
// cleanly, else 1 after the line "PROGRAM: (standard output): write error:
// REASON" on standard error (not repeated when `status` already reports a
// failure, whose message was given).
int finish_standard_output(const char *program, int status);
