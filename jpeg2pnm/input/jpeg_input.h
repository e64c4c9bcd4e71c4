// An input of jpeg2pnm: opened as every program opens its inputs, and held
// whole, so that the limits look at all of it before anything is decoded.
// A regular file of a megabyte or more on a local file system is mapped,
// not copied: its pages are the page cache's. Anything else is read, into
// memory that the next input read on the same thread reuses: smaller
// files, standard input and pipes, and
// files on network or FUSE file systems, whose failing reads would stall
// or kill a mapped decode where a read says "read error" and a batch goes
// on. A mapped file that shrinks under the decode raises SIGBUS, which
// removes the unfinished outputs (remove_outputs_on_bus_error).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Opens `input` ("-" for standard input) for reading, or reports why it
// cannot be and returns nullptr.
std::FILE *open_jpeg_input(const std::string &input);

// Memory inputs are read into, kept by its owner from one input to the
// next (a batch's job reads many), and unmapped when it goes.
struct input_memory {
  unsigned char *bytes = nullptr;
  std::size_t capacity = 0;
  input_memory() = default;
  input_memory(const input_memory &) = delete;
  input_memory &operator=(const input_memory &) = delete;
  ~input_memory();
};

// The bytes of one input: mapped (and unmapped when it goes), or in the
// memory it was read into.
struct jpeg_input {
  const unsigned char *bytes = nullptr;
  std::size_t size = 0;
  void *mapping = nullptr;

  jpeg_input() = default;
  jpeg_input(const jpeg_input &) = delete;
  jpeg_input &operator=(const jpeg_input &) = delete;
  ~jpeg_input();
};

// The whole input, at most `limit` bytes (0: no limit). Input that does
// not start as a JPEG file does is refused at its first bytes. False,
// reported, on a read error or a refusal; std::bad_alloc when there is no
// memory for it.
bool load_jpeg_input(const std::string &input, std::FILE *in, std::uint64_t limit, input_memory &memory,
                     jpeg_input &data);
