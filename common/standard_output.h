// A program's standard descriptors: closed ones held, so that no file the
// program opens lands on them; and the end of its standard output, where
// everything written to it must have arrived, including what some file
// systems report lost only when the file is closed.
#pragma once

#include <string>

// Occupies each of descriptors 0, 1 and 2 that is closed at start with
// /dev/null, opened the other way round (standard input for writing, the
// others for reading) so that using it still fails with EBADF as the
// closed descriptor did: an image meant for a closed standard output is
// still an error, and messages meant for a closed standard error are lost
// rather than written into the next file opened. Call first in main.
void hold_closed_standard_descriptors();

// Flushes and closes standard output. False with `error` set ("write
// error: REASON") when anything written to it was lost.
bool close_standard_output(std::string &error);

// The status a program ends with: `status` when standard output closes
// cleanly, else 1 after the line "PROGRAM: (standard output): write error:
// REASON" on standard error (not repeated when `status` already reports a
// failure, whose message was given).
int finish_standard_output(int status);
