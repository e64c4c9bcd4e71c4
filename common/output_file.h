// Output files written the way a careful user expects, going where the
// shell's > would go and nowhere else:
// - a new file gets the mode a shell redirection would give it (0666 less
//   the umask), and appears only when complete;
// - an existing regular file must be writable, as for >; it is replaced
//   only when the new content is complete, keeping its permission bits,
//   owner and group (as far as the process may set them). Where a rename
//   cannot replace it (other hard links share it, its folder is not
//   writable, or a sticky folder keeps it for its owner) it is rewritten in
//   place once the new content is complete, as > would write it: not
//   atomically;
// - symbolic links are followed as the kernel follows them, except that in
//   a sticky world-writable folder (such as /tmp) a link is followed only
//   when the follower or the folder's owner owns it, whatever the machine's
//   fs.protected_symlinks says; a link stays a link, a dangling one creates
//   the file it names. The folder reached is held open, so a link swapped
//   after the check is never written through;
// - /dev/stdout, /dev/stderr, /dev/fd/N and /proc/self/fd/N are that open
//   descriptor as it stands (its append mode kept, pipes too);
// - anything else (a device, a FIFO) is written directly, never replaced.
// Everything that stops a write (permissions, a missing folder, a refused
// link) is found when the output is opened, before any content is made.
// The new content goes to an unnamed temporary file (O_TMPFILE) where the
// file system has them, so that nothing is left behind even by SIGKILL;
// elsewhere to a hidden named one, removed on SIGINT, SIGTERM, SIGHUP and
// SIGPIPE
// once install_output_cleanup has run.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

struct output_file {
  std::FILE *stream = nullptr;  // where the content goes
  std::string path;             // as the user named it
  int folder = -1;              // the folder that receives it (links followed), held open
  std::string name;             // the file's name in that folder
  bool direct = false;          // written as it stands: a device, FIFO or open descriptor
  bool in_place = false;        // an existing file rewritten in place at the end
  bool existed = false;         // a regular file was there
  struct stat existing {};      // the status of what was there (direct outputs too)
  int existing_fd = -1;         // the existing file open for writing, while rewritten in place
  std::string temporary;        // the named temporary file in `folder`, if one is used
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
// output keeps what reached it). Harmless on an output already committed
// or discarded.
void discard_output(output_file &out);

// Commits two outputs that stand or fall together (an image and its
// colour profile): both are finished before either is put in place, and
// when the second cannot be placed a first that is a new file is removed
// again. `second_failed` tells which one `error` is about.
bool commit_outputs(output_file &first, output_file &second, std::string &error, bool &second_failed);

// True when `path`, followed as open_output follows it, is the file open
// as `input_fd`.
bool output_is_input(const std::string &path, int input_fd);

// True when standard output is the regular file open as `fd`: a program
// run as `prog F >> F` would write into what it reads.
bool standard_output_is_file(int fd);

// True when the opened output `out` writes to the file open as `fd`.
bool output_is_open_file(const output_file &out, int fd);

// The descriptor a name such as /dev/stdout or /proc/self/fd/3 stands
// for, or -1 for any other name.
int descriptor_named(const std::string &path);

// True when two opened outputs would write to the same file.
bool same_output(const output_file &a, const output_file &b);

// Removes the named temporary files of unfinished outputs on SIGINT,
// SIGTERM, SIGHUP and SIGPIPE (a reader that went away), then ends the
// process as killed by that signal.
// Signals that are ignored at start stay ignored. SIGXFSZ is ignored, so
// that a write past ulimit -f is an error of that output. Call once, early.
void install_output_cleanup();

// Removes them on SIGBUS too, which a mapped input raises when it shrinks
// under the program, writing `line` (one whole line, kept by the caller)
// to standard error first. Call after install_output_cleanup.
void remove_outputs_on_bus_error(const char *line);

// Creates the folder of -d when it is missing (its parent must exist);
// false, after saying why, when it cannot be made or names something else.
bool make_output_folder(const std::string &directory);
