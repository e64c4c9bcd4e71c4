// Rows written in blocks, beside the decode or after each block fills.
#include "block_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

int write_fully(int fd, const unsigned char *data, std::size_t bytes, off_t offset) {
  while (bytes > 0) {
    const ssize_t n = offset < 0 ? write(fd, data, bytes) : pwrite(fd, data, bytes, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    data += n;
    bytes -= static_cast<std::size_t>(n);
    if (offset >= 0) offset += n;
  }
  return 0;
}

namespace {

// Writes all of `bytes` bytes where the writer writes; the errno of a
// failure, else 0.
int write_all(block_writer &w, const unsigned char *data, std::size_t bytes) {
  if (w.fd < 0) return std::fwrite(data, 1, bytes, w.stream) == bytes ? 0 : (errno != 0 ? errno : EIO);
  const int error = write_fully(w.fd, data, bytes, w.offset);
  if (error == 0 && w.offset >= 0) w.offset += static_cast<off_t>(bytes);
  return error;
}

// The writer thread: writes queued blocks in order until closed.
void write_queued(block_writer &w) {
  std::unique_lock<std::mutex> hold(w.lock);
  for (;;) {
    w.changed.wait(hold, [&] { return !w.queued.empty() || w.closing; });
    if (w.queued.empty()) return;
    const auto [block, bytes] = w.queued.front();
    w.queued.pop_front();
    const bool skip = w.error != 0;
    hold.unlock();
    const int error = skip ? 0 : write_all(w, w.blocks[block], bytes);
    hold.lock();
    if (error != 0 && w.error == 0) w.error = error;
    w.busy[block] = false;
    w.changed.notify_all();
  }
}

// Hands the filled block on (or writes it), and takes a free one.
bool hand_on(block_writer &w) {
  if (w.used == 0) return true;
  if (!w.thread.joinable()) {
    if (w.error == 0) w.error = write_all(w, w.blocks[0], w.used);
    w.used = 0;
    return w.error == 0;
  }
  std::unique_lock<std::mutex> hold(w.lock);
  w.busy[w.filling] = true;
  w.queued.emplace_back(w.filling, w.used);
  w.changed.notify_all();
  w.filling = (w.filling + 1) % w.blocks.size();
  w.changed.wait(hold, [&] { return !w.busy[w.filling]; });
  w.used = 0;
  return w.error == 0;
}

}  // namespace

namespace {

void make_blocks(block_writer &w, block_ring &ring, bool threaded, std::size_t row_bytes) {
  w.capacity = std::max(write_block_bytes, row_bytes);
  const std::size_t count = threaded ? write_blocks : 1;
  if (ring.capacity < w.capacity) {
    ring.blocks.clear();
    ring.capacity = w.capacity;
  }
  while (ring.blocks.size() < count) ring.blocks.emplace_back(new unsigned char[ring.capacity]);
  w.blocks.clear();
  for (std::size_t b = 0; b < count; ++b) w.blocks.push_back(ring.blocks[b].get());
  w.busy.assign(w.blocks.size(), false);
  if (!threaded) return;
  try {
    w.thread = std::thread(write_queued, std::ref(w));
  } catch (const std::system_error &) {
    // No thread to be had: the blocks are written as they fill, here.
  }
}

}  // namespace

bool start_block_writer(block_writer &w, block_ring &ring, int fd, std::size_t row_bytes, off_t offset) {
  w.fd = fd;
  w.offset = offset;
  make_blocks(w, ring, false, row_bytes);
  return true;
}

bool start_block_writer(block_writer &w, block_ring &ring, std::FILE *out, bool threaded, std::size_t row_bytes,
                        off_t offset) {
  // Everything goes through the descriptor, nothing through the stream's
  // buffer, which is flushed first in case it holds anything.
  if (std::fflush(out) != 0) return false;
  w.stream = out;
  w.fd = fileno(out);
  w.offset = offset;
  make_blocks(w, ring, threaded, row_bytes);
  return true;
}

unsigned char *block_space(block_writer &w, std::size_t bytes) {
  if (w.used + bytes > w.capacity && !hand_on(w)) return nullptr;
  if (!w.thread.joinable() && w.error != 0) return nullptr;
  unsigned char *space = w.blocks[w.filling] + w.used;
  w.used += bytes;
  return space;
}

block_writer::~block_writer() {
  if (!thread.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(lock);
    if (error == 0) error = ECANCELED;  // what is queued is skipped
    closing = true;
  }
  changed.notify_all();
  thread.join();
}

bool finish_block_writer(block_writer &w) {
  hand_on(w);
  if (w.thread.joinable()) {
    {
      std::lock_guard<std::mutex> hold(w.lock);
      w.closing = true;
    }
    w.changed.notify_all();
    w.thread.join();
  }
  w.blocks.clear();
  return w.error == 0;
}
