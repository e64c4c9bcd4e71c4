// Rows written in blocks of whole rows, a few megabytes each: the decoder
// fills one block while a writer thread writes the one before it, so that
// the kernel's copy into the page cache runs beside the decode instead of
// after each row. Without the thread (when every core already decodes an
// image of its own) a block is written as soon as it is full. Writes go in
// sequence from the descriptor's position, or from a given offset with
// pwrite (a strip of an image decoded on its own thread).
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Bytes of each block, and how many rotate between decoder and writer.
// Measured on a 12-megapixel decode to tmpfs and disk (bench/pipeline):
// 64 KiB blocks cost 1.35 times a bare decode, 128 and 256 KiB about
// 1.2, 512 KiB 1.12 to 1.15, 4 MiB 1.45 (they no longer stay in cache
// while the writer copies them, and cost page faults of their own). Two
// blocks rather than three: the writer copies one to the page cache in a
// fifth of the time the decoder takes to fill the other, and the third
// block's first touch cost 128 page faults, 3 % of the decode.
inline constexpr std::size_t write_block_bytes = std::size_t{512} << 10;
inline constexpr std::size_t write_blocks = 2;

// The blocks a writer fills, kept by their owner from one image to the
// next (a batch's job decodes many): allocated at the first image that
// needs them and never cleared, since every byte is written before it is
// read. The writer thread uses them only while its decoder waits for it.
struct block_ring {
  std::vector<std::unique_ptr<unsigned char[]>> blocks;
  std::size_t capacity = 0;  // bytes of each
};

struct block_writer {
  std::FILE *stream = nullptr;  // written through fwrite when it has no descriptor (a memory stream)
  int fd = -1;
  off_t offset = -1;  // where the next block goes; -1 to write in sequence
  std::vector<unsigned char *> blocks;  // the ring's, as many as this writer uses
  std::size_t capacity = 0;  // bytes of each block
  std::size_t filling = 0;  // the block being filled
  std::size_t used = 0;     // its bytes so far
  // The writer thread, when there is one, and what it shares.
  std::thread thread;
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::pair<std::size_t, std::size_t>> queued;  // block, bytes
  std::vector<bool> busy;                                   // queued or being written
  bool closing = false;
  int error = 0;  // the first write error's errno, shared with the writer thread

  block_writer() = default;
  block_writer(const block_writer &) = delete;
  block_writer &operator=(const block_writer &) = delete;
  // A writer left without finish_block_writer (an exception on its way
  // out) stops its thread, writing nothing more: the output is discarded.
  ~block_writer();
};

// Writes all of `bytes` bytes to `fd`, from `offset` with pwrite or, when
// it is -1, in sequence; short writes and EINTR are carried on from. The
// errno of a failure, else 0.
int write_fully(int fd, const unsigned char *data, std::size_t bytes, off_t offset = -1);

// Sets the writer up for `out` (through its descriptor, its buffer
// flushed; a stream with none is written as a stream), with a thread of
// its own when `threaded` and one can start (else blocks are written on
// the caller's thread), for rows of up to `row_bytes` bytes. False with
// errno set when the flush fails.
bool start_block_writer(block_writer &w, block_ring &ring, std::FILE *out, bool threaded, std::size_t row_bytes,
                        off_t offset = -1);

// Sets the writer up for the descriptor `fd` from `offset` on, without a
// thread (a strip's decode runs on a thread of its own).
bool start_block_writer(block_writer &w, block_ring &ring, int fd, std::size_t row_bytes, off_t offset);

// Room for `bytes` more bytes (at most a block) in the current block, the
// full one handed on first; nullptr once a write has failed (`error` says
// why).
unsigned char *block_space(block_writer &w, std::size_t bytes);

// Writes what is left and stops the thread. False when a write failed
// (`error` says why).
bool finish_block_writer(block_writer &w);
