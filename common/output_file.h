// Output files written the way a careful user expects:
// - a new file gets the mode a shell redirection would give it (0666 less
//   the umask), and appears only when complete;
// - an existing regular file is replaced only when the new content is
//   complete, keeping its permission bits, owner and group (as far as the
//   process may set them); one with other hard links is rewritten in place,
//   so that every name shows the new content;
// - a symbolic link is followed and stays a link; a dangling one creates
//   the file it names;
// - anything else (a device, a FIFO) is written directly, never replaced.
// The new content goes to an unnamed temporary file (O_TMPFILE) where the
// file system has them, so that nothing is left behind even by SIGKILL;
// elsewhere to a hidden named one, removed on SIGINT, SIGTERM and SIGHUP
// once install_output_cleanup has run.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

struct output_file {
  std::FILE *stream = nullptr;  // where the content goes
  std::string path;             // as the user named it
  std::string target;           // the file that receives it: links followed
  bool direct = false;          // written in place (not a regular file)
  bool existed = false;         // a regular file was at `target`
  struct stat existing {};      // its status, when it existed
  std::string temporary;        // the named temporary file, if one is used
  int slot = -1;                // its entry in the cleanup list
};

// Opens the output for `path`. On failure returns false with `error` set
// to the reason (the caller names the path).
bool open_output(output_file &out, const std::string &path, std::string &error);

// Finishes the output: flushes and closes it and puts the new content in
// place. On failure nothing of the new content is left and `error` says
// why.
bool commit_output(output_file &out, std::string &error);

// Abandons the output: closes it and removes what it wrote (a direct
// output keeps what reached it).
void discard_output(output_file &out);

// True when `path`, with links followed, is the file open as `input_fd`.
bool output_is_input(const std::string &path, int input_fd);

// Removes the named temporary files of unfinished outputs on SIGINT,
// SIGTERM and SIGHUP, then ends the process as killed by that signal.
// Signals that are ignored at start stay ignored. Call once, early.
void install_output_cleanup();
