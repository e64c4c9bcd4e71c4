// Opening and holding one JPEG input: a local regular file mapped, any
// other input read whole, up to the limit, into memory each thread keeps
// for the next input.
#include "jpeg_input.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "diagnostics.h"
#include "input_file.h"

namespace {

bool refuse_start(const std::string &input, const unsigned char *bytes) {
  char message[64];
  std::snprintf(message, sizeof message, "Not a JPEG file: starts with 0x%02x 0x%02x", bytes[0], bytes[1]);
  report(input_name(input), message);
  return false;
}

bool report_too_long(const std::string &input, std::uint64_t limit) {
  report(input_name(input), "longer than " + std::to_string(limit) +
                                " bytes, more than any image within the limits takes; --max-input MIB "
                                "raises the limit, 0 lifts it");
  return false;
}

// Room for `size` bytes, the first `kept` of those held kept.
void reserve(input_memory &memory, std::size_t size, std::size_t kept) {
  if (size <= memory.capacity) return;
  constexpr std::size_t granule = std::size_t{1} << 16;
  size = (size + granule - 1) / granule * granule;
  void *grown = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (grown == MAP_FAILED) throw std::bad_alloc();
  if (memory.bytes != nullptr) {
    std::memcpy(grown, memory.bytes, kept);
    munmap(memory.bytes, memory.capacity);
  }
  memory.bytes = static_cast<unsigned char *>(grown);
  memory.capacity = size;
}

// Reads the whole input, growing the memory as it comes, up to the limit.
// A regular file's size is known: one read of it, then one to see its
// end.
bool read_whole(const std::string &input, std::FILE *in, std::uint64_t limit, std::size_t known_size,
                input_memory &memory, jpeg_input &data) {
  std::size_t room = known_size > 0 ? known_size + 1 : std::size_t{1} << 16;
  std::size_t size = 0;
  for (;;) {
    reserve(memory, room, size);
    size += std::fread(memory.bytes + size, 1, room - size, in);
    if (size >= 2 && (memory.bytes[0] != 0xFF || memory.bytes[1] != 0xD8)) return refuse_start(input, memory.bytes);
    if (size < room) break;
    if (limit != 0 && size > limit) return report_too_long(input, limit);
    room = limit != 0 ? std::min<std::uint64_t>(room * 2, limit + 1) : room * 2;
  }
  if (std::ferror(in)) {
    report(input_name(input), read_error_text(errno));
    return false;
  }
  data.bytes = memory.bytes;
  data.size = size;
  return true;
}

// Whether reads of the file come from this machine's page cache and
// memory or disks, so that mapping it is as safe as reading it: ext2 to
// 4, XFS, Btrfs, F2FS, tmpfs, ramfs and overlay (containers).
bool on_local_file_system(int fd) {
  struct statfs fs {};
  if (fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53: case 0x58465342: case 0x9123683E: case 0xF2F52010:
    case 0x01021994: case 0x858458F6: case 0x794C7630:
      return true;
    default:
      return false;
  }
}

// Files smaller than this are read into the kept memory: a batch of small
// files ran 10 % slower mapped, each map and unmap of a process with
// several threads costing more than the copy it saves.
constexpr std::size_t least_mapped = std::size_t{1} << 20;

// Maps the whole of a regular file of `size` bytes read from its start;
// false when it cannot be or is better read.
bool map_whole(std::FILE *in, std::size_t size, jpeg_input &data) {
  if (size < least_mapped || std::ftell(in) != 0 || !on_local_file_system(fileno(in))) return false;
  void *mapping = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fileno(in), 0);
  if (mapping == MAP_FAILED) return false;
  data.mapping = mapping;
  data.bytes = static_cast<const unsigned char *>(mapping);
  data.size = size;
  return true;
}

}  // namespace

input_memory::~input_memory() {
  if (bytes != nullptr) munmap(bytes, capacity);
}

jpeg_input::~jpeg_input() {
  if (mapping != nullptr) munmap(mapping, size);
}

std::FILE *open_jpeg_input(const std::string &input) {
  std::string error;
  std::FILE *in = open_input_file(input, "a JPEG file", error);
  if (in == nullptr) report(input_name(input), error);
  return in;
}

bool load_jpeg_input(const std::string &input, std::FILE *in, std::uint64_t limit, input_memory &memory,
                     jpeg_input &data) {
  struct stat st {};
  const bool sized = fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
  if (sized && limit != 0 && static_cast<std::uint64_t>(st.st_size) > limit) return report_too_long(input, limit);
  if (sized && map_whole(in, static_cast<std::size_t>(st.st_size), data)) {
    if (data.size >= 2 && (data.bytes[0] != 0xFF || data.bytes[1] != 0xD8)) return refuse_start(input, data.bytes);
  } else if (!read_whole(input, in, limit, sized ? static_cast<std::size_t>(st.st_size) : 0, memory, data)) {
    return false;
  }
  if (data.size == 1) {
    char message[64];
    std::snprintf(message, sizeof message, "Not a JPEG file: one byte long (0x%02x)", data.bytes[0]);
    report(input_name(input), message);
    return false;
  }
  return true;
}
