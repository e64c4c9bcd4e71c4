// tonetool's commands, one file each in this folder with its usage, its
// option rows and its entry point; main's table lists them. Each takes
// its arguments from its name on and returns the exit status.
#pragma once

// Reading tone records back: as text, as a sound file, on a sound device.
int run_list(int argc, char **argv);
int run_wav(int argc, char **argv);
#ifdef TONETOOL_PLAY
int run_play(int argc, char **argv);  // where tonetool is built with ALSA's library
#endif
// Checking a melody text as a compiler would.
int run_check(int argc, char **argv);
// Melody texts from ringtones and MIDI files.
int run_rtttl(int argc, char **argv);
int run_from_midi(int argc, char **argv);
// Tone records as a MIDI file or C source.
int run_midi(int argc, char **argv);
int run_c(int argc, char **argv);
