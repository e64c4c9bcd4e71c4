// The commands that read tone records or melody texts back: list (as
// text), wav (as sound), play (on a sound device) and check (a melody
// text, as a compiler would).
// Each takes its arguments from its name on and returns the exit status.
#pragma once

int run_list(int argc, char **argv);
int run_wav(int argc, char **argv);
#ifdef TONETOOL_PLAY
int run_play(int argc, char **argv);  // where tonetool is built with ALSA's library
#endif
int run_check(int argc, char **argv);
