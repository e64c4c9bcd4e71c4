// The commands that convert: rtttl (a ringtone to a melody text), midi and
// c (tone records to a MIDI file or C source). Each takes its arguments
// from its name on and returns the exit status.
#pragma once

int run_rtttl(int argc, char **argv);
int run_midi(int argc, char **argv);
int run_c(int argc, char **argv);
