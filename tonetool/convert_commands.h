// The commands that convert: rtttl and from-midi (a ringtone or a MIDI
// file to a melody text), midi and c (tone records to a MIDI file or C
// source). Each takes its arguments
// from its name on and returns the exit status.
#pragma once

int run_rtttl(int argc, char **argv);
int run_midi(int argc, char **argv);
int run_c(int argc, char **argv);
int run_from_midi(int argc, char **argv);
