#include "output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace {

std::string folder_of(const std::string &path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string base_of(const std::string &path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Named temporary files of unfinished outputs, for the signal handler. A
// slot is claimed (1) while its path is copied in and live (2) after;
// the handler unlinks only live ones.
constexpr int cleanup_slots = 1024;
struct cleanup_slot {
  std::atomic<int> state;
  char path[PATH_MAX];
};
cleanup_slot cleanup_list[cleanup_slots];

int remember_temporary(const std::string &path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < cleanup_slots; ++i) {
    int free_state = 0;
    if (cleanup_list[i].state.compare_exchange_strong(free_state, 1)) {
      std::memcpy(cleanup_list[i].path, path.c_str(), path.size() + 1);
      cleanup_list[i].state.store(2);
      return i;
    }
  }
  return -1;
}

void forget_temporary(int &slot) {
  if (slot >= 0) cleanup_list[slot].state.store(0);
  slot = -1;
}

void remove_temporaries_and_die(int signal_number) {
  for (auto &slot : cleanup_list) {
    if (slot.state.load() == 2) unlink(slot.path);
  }
  // The handler was installed with SA_RESETHAND: the signal, blocked
  // while the handler runs, now ends the process with its default action.
  raise(signal_number);
}

// A fresh name beside `target`: .BASE.XXXXXX with six random letters.
std::string temporary_name(const std::string &target) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char random[6] = {};
  if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    const auto seed = static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&random));
    for (unsigned i = 0; i < sizeof random; ++i) random[i] = static_cast<unsigned char>(seed >> (i * 5));
  }
  std::string name = folder_of(target) + "/." + base_of(target).substr(0, 200) + ".";
  for (const unsigned char r : random) name += letters[r % (sizeof letters - 1)];
  return name;
}

// Creates a named temporary file beside `target` with the mode a new file
// gets (0666 less the umask, applied by the kernel). -1 with errno set.
int create_named_temporary(const std::string &target, std::string &name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = temporary_name(target);
    const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// `path` with every symbolic link in its last component followed: the
// file that writing through `path` would reach, which may not exist yet.
bool follow_links(const std::string &path, std::string &target, std::string &error) {
  target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    std::vector<char> link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t length = readlink(target.c_str(), link.data(), link.size());
    if (length < 0 || static_cast<std::size_t>(length) >= link.size()) {
      error = std::string("cannot read the symbolic link: ") + std::strerror(length < 0 ? errno : ENAMETOOLONG);
      return false;
    }
    const std::string next(link.data(), static_cast<std::size_t>(length));
    target = next.front() == '/' ? next : folder_of(target) + "/" + next;
  }
  error = std::strerror(ELOOP);
  return false;
}

bool can_link_unnamed_files() {
  static const bool proc_fd = access("/proc/self/fd", X_OK) == 0;
  return proc_fd;
}

// Gives the unnamed file open as `fd` the name `name`.
bool link_unnamed(int fd, const std::string &name) {
  const std::string proc_path = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, proc_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// The replaced file's permission bits and, as far as this process may set
// them, its owner and group. The owner goes first: changing it may clear
// set-user-ID bits that the mode then restores.
void keep_mode_and_owner(int fd, const struct stat &existing) {
  if (fchown(fd, existing.st_uid, existing.st_gid) != 0) {
    [[maybe_unused]] const int group_only = fchown(fd, static_cast<uid_t>(-1), existing.st_gid);
  }
  fchmod(fd, existing.st_mode & 07777);
}

bool fail(std::string &error, const std::string &what) {
  error = what + ": " + std::strerror(errno);
  return false;
}

// Writes the content of `from` over the file `target`, which keeps its
// inode, so that all of its hard links see the new content. Space for it is
// reserved first where the file system can, so that a full disk stops the
// copy before the old content is touched.
bool copy_in_place(int from, const std::string &target, std::string &error) {
  struct stat st {};
  if (fstat(from, &st) != 0) return fail(error, "cannot read the new content");
  const int to = open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (to < 0) return fail(error, "cannot open for writing");
  if (st.st_size > 0 && fallocate(to, 0, 0, st.st_size) != 0 && errno != EOPNOTSUPP) {
    const int saved = errno;
    close(to);
    errno = saved;
    return fail(error, "cannot make room for the new content");
  }
  std::vector<char> buffer(1 << 16);
  off_t offset = 0;
  bool ok = true;
  while (ok && offset < st.st_size) {
    const ssize_t n = pread(from, buffer.data(), buffer.size(), offset);
    if (n <= 0) {
      if (n == 0) errno = EIO;  // the temporary file shrank: cannot be
      ok = false;
      break;
    }
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t w = pwrite(to, buffer.data() + done, static_cast<std::size_t>(n - done), offset + done);
      if (w < 0) ok = false;
      else done += w;
    }
    offset += n;
  }
  if (ok && ftruncate(to, st.st_size) != 0) ok = false;
  const int saved = errno;
  if (close(to) != 0 && ok) return fail(error, "write error");
  errno = saved;
  return ok || fail(error, "write error");
}

// Gives the unnamed file `fd` a fresh temporary name beside the target.
bool name_unnamed(output_file &out, int fd) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    out.temporary = temporary_name(out.target);
    out.slot = remember_temporary(out.temporary);
    if (link_unnamed(fd, out.temporary)) return true;
    const int saved = errno;
    forget_temporary(out.slot);
    out.temporary.clear();
    errno = saved;
    if (errno != EEXIST) return false;
  }
  return false;
}

// Puts the new content at the target: a new target takes the unnamed file
// directly; an existing one is replaced by a rename, atomically.
bool place_by_rename(output_file &out, int fd, std::string &error) {
  if (out.existed) keep_mode_and_owner(fd, out.existing);
  if (out.temporary.empty()) {
    if (!out.existed) {
      if (link_unnamed(fd, out.target)) return true;
      if (errno != EEXIST) return fail(error, "cannot create");
    }
    if (!name_unnamed(out, fd)) return fail(error, "cannot create");
  }
  if (std::rename(out.temporary.c_str(), out.target.c_str()) != 0) {
    return fail(error, "cannot replace");
  }
  forget_temporary(out.slot);
  out.temporary.clear();
  return true;
}

}  // namespace

bool open_output(output_file &out, const std::string &path, std::string &error) {
  out = output_file{};
  out.path = path;
  if (path.empty()) {
    error = "empty file name";
    return false;
  }
  if (!follow_links(path, out.target, error)) return false;

  int fd = -1;
  struct stat st {};
  if (stat(out.target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      error = "is a directory";
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      // A device or FIFO: written as it is, never replaced.
      fd = open(out.target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
      if (fd < 0) return fail(error, "cannot open for writing");
      out.direct = true;
    } else {
      out.existed = true;
      out.existing = st;
    }
  } else if (errno != ENOENT) {
    return fail(error, "cannot create");
  }

  if (fd < 0 && can_link_unnamed_files()) {
    fd = open(folder_of(out.target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    // Where the file system has no unnamed files, a named one serves.
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      return fail(error, "cannot create");
    }
  }
  if (fd < 0 && !out.direct) {
    fd = create_named_temporary(out.target, out.temporary);
    if (fd < 0) return fail(error, "cannot create");
    out.slot = remember_temporary(out.temporary);
  }
  out.stream = fdopen(fd, "wb");
  if (out.stream == nullptr) {
    const int saved = errno;
    close(fd);
    errno = saved;
    discard_output(out);
    return fail(error, "cannot create");
  }
  std::setvbuf(out.stream, nullptr, _IOFBF, 1 << 16);
  return true;
}

bool commit_output(output_file &out, std::string &error) {
  // The descriptor outlives the stream: an unnamed file needs it to be
  // linked. Closing the stream flushes it and reports errors that some
  // file systems give only at close.
  const int fd = dup(fileno(out.stream));
  const bool flushed = std::fflush(out.stream) == 0 && std::ferror(out.stream) == 0;
  const int flush_errno = errno;
  const bool closed = std::fclose(out.stream) == 0;
  out.stream = nullptr;
  bool ok = fd >= 0 && flushed && closed;
  if (!ok) {
    if (!flushed) errno = flush_errno;
    fail(error, "write error");
  } else if (out.direct) {
    // Already in place.
  } else if (out.existed && out.existing.st_nlink > 1) {
    ok = copy_in_place(fd, out.target, error);
  } else {
    ok = place_by_rename(out, fd, error);
  }
  if (fd >= 0) close(fd);
  if (!ok) discard_output(out);
  return ok;
}

void discard_output(output_file &out) {
  if (out.stream != nullptr) std::fclose(out.stream);
  out.stream = nullptr;
  if (!out.temporary.empty()) unlink(out.temporary.c_str());
  out.temporary.clear();
  forget_temporary(out.slot);
}

bool output_is_input(const std::string &path, int input_fd) {
  struct stat output {}, input {};
  return stat(path.c_str(), &output) == 0 && fstat(input_fd, &input) == 0 &&
         output.st_dev == input.st_dev && output.st_ino == input.st_ino;
}

void install_output_cleanup() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = remove_temporaries_and_die;
    sigemptyset(&action.sa_mask);
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    sigaction(signal_number, &action, nullptr);
  }
}
