// Output files written where the shell's > would write them, complete or
// not at all.
#include "output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "diagnostics.h"
#include "message_text.h"

namespace {

bool fail(std::string &error, const std::string &what) {
  error = with_errno(what);
  return false;
}

void close_keeping_errno(int &fd) {
  if (fd < 0) return;
  const int saved = errno;
  close(fd);
  errno = saved;
  fd = -1;
}

// Named temporary files of unfinished outputs, for the signal handler: the
// folder (held open) and the name in it. A slot is claimed (1) while it is
// filled in and live (2) after; the handler unlinks only live ones. A slot
// goes live before its file is created, so that no signal can come between
// the creation and the registration. Zero from the program's image (no
// code runs at start-up to clear it, nor touches its 264 KiB until used).
constexpr int cleanup_slots = 1024;
struct cleanup_slot {
  std::atomic<int> state{0};
  int folder = 0;
  char name[NAME_MAX + 1] = {};
};
constinit cleanup_slot cleanup_list[cleanup_slots]{};

int remember_temporary(int folder, const std::string &name) {
  if (name.size() > NAME_MAX) return -1;
  for (int i = 0; i < cleanup_slots; ++i) {
    int free_state = 0;
    if (cleanup_list[i].state.compare_exchange_strong(free_state, 1)) {
      cleanup_list[i].folder = folder;
      std::memcpy(cleanup_list[i].name, name.c_str(), name.size() + 1);
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

const char *bus_error_line = nullptr;

void remove_temporaries_and_die(int signal_number) {
  if (signal_number == SIGBUS && bus_error_line != nullptr) {
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, bus_error_line, std::strlen(bus_error_line));
  }
  for (auto &slot : cleanup_list) {
    if (slot.state.load() == 2) unlinkat(slot.folder, slot.name, 0);
  }
  // The handler was installed with SA_RESETHAND: the signal, blocked
  // while the handler runs, now ends the process with its default action.
  raise(signal_number);
}

// A fresh name for a file beside `name`: .NAME.XXXXXX with six random
// letters.
std::string temporary_name(const std::string &name) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char random[6] = {};
  if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    const auto seed = static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&random));
    for (unsigned i = 0; i < sizeof random; ++i) random[i] = static_cast<unsigned char>(seed >> (i * 5));
  }
  std::string temporary(1, '.');
  temporary.append(name, 0, 200);
  temporary += '.';
  for (const unsigned char r : random) temporary += letters[r % (sizeof letters - 1)];
  return temporary;
}

}  // namespace

int descriptor_named(const std::string &path) {
  if (path == "/dev/stdin") return 0;
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  std::string own_process = "/proc/";
  own_process += std::to_string(getpid());
  own_process += "/fd/";
  for (const std::string &prefix : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                                    std::string("/proc/thread-self/fd/"), own_process}) {
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) continue;
    const std::size_t digits = path.size() - prefix.size();
    if (digits > 9 || path.find_first_not_of("0123456789", prefix.size()) != std::string::npos) return -1;
    return std::stoi(path.substr(prefix.size()));
  }
  return -1;
}

namespace {

// Whether a symbolic link owned by `owner` in the folder `folder` may be
// followed: in a sticky world-writable folder only the follower's links
// and the folder owner's are, so that nobody can point another user's
// output at a file of that user's.
bool may_follow_link(int folder, uid_t owner) {
  struct stat st {};
  if (fstat(folder, &st) != 0) return false;
  const bool shared = (st.st_mode & S_ISVTX) != 0 && (st.st_mode & S_IWOTH) != 0;
  return !shared || owner == geteuid() || owner == st.st_uid;
}

// Walks `path` as an open of it would, one component at a time, and stops
// at its last one: `folder` is the folder that holds it, open, and `name`
// its name there (which may not exist yet). Every symbolic link on the way,
// the last component's too, is followed under may_follow_link's rule.
bool walk_path(const std::string &path, int &folder, std::string &name, std::string &error) {
  int dir = open(path.front() == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return fail(error, "cannot create");
  std::string rest = path;
  int links = 0;
  for (;;) {
    const auto start = rest.find_first_not_of('/');
    if (start == std::string::npos) {  // the path ends in a folder
      folder = dir;
      name.assign(1, '.');
      return true;
    }
    const auto end = rest.find('/', start);
    const std::string part = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
    rest.erase(0, end == std::string::npos ? rest.size() : end);
    const bool last = rest.empty();
    struct stat st {};
    if (fstatat(dir, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT && last) {
        folder = dir;
        name = part;
        return true;
      }
      close_keeping_errno(dir);
      return fail(error, "cannot create");
    }
    if (S_ISLNK(st.st_mode)) {
      if (!may_follow_link(dir, st.st_uid)) {
        close(dir);
        error = "not following the symbolic link " + quoted_name(part) +
                ", another user's in a sticky world-writable folder; remove it or choose another output";
        return false;
      }
      std::vector<char> text(PATH_MAX + 1);
      const ssize_t length = readlinkat(dir, part.c_str(), text.data(), text.size());
      if (length <= 0 || ++links > 40 || static_cast<std::size_t>(length) >= text.size()) {
        errno = length < 0 ? errno : length == 0 ? ENOENT : links > 40 ? ELOOP : ENAMETOOLONG;
        close_keeping_errno(dir);
        return fail(error, "cannot follow the symbolic link");
      }
      rest.insert(0, text.data(), static_cast<std::size_t>(length));
      if (text[0] == '/') {
        close(dir);
        dir = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) return fail(error, "cannot create");
      }
      continue;
    }
    if (last) {
      folder = dir;
      name = part;
      return true;
    }
    const int next = openat(dir, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close_keeping_errno(dir);
    if (next < 0) return fail(error, "cannot create");
    dir = next;
  }
}

bool can_link_unnamed_files() {
  static const bool proc_fd = access("/proc/self/fd", X_OK) == 0;
  return proc_fd;
}

// Gives the unnamed file open as `fd` the name `name` in `folder`.
bool link_unnamed(int fd, int folder, const std::string &name) {
  const std::string proc_path = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, proc_path.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Whether a rename in `folder` may replace the file `existing`, as the
// kernel would let it: the folder writable, and in a sticky folder the
// file or the folder this user's (or the user root).
bool can_replace(int folder, const struct stat &existing) {
  if (faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) return false;
  struct stat st {};
  if (fstat(folder, &st) != 0) return false;
  if ((st.st_mode & S_ISVTX) == 0) return true;
  const uid_t me = geteuid();
  return me == 0 || me == existing.st_uid || me == st.st_uid;
}

// Opens the output's existing regular file for writing, as > would: one
// this user may not write is refused here, before any content is made.
// Keeps it open when it is to be rewritten in place.
bool open_existing(output_file &out, std::string &error) {
  int fd = openat(out.folder, out.name.c_str(), O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(error, "cannot open for writing");
  if (fstat(fd, &out.existing) != 0 || !S_ISREG(out.existing.st_mode)) {
    close(fd);
    errno = EAGAIN;
    return fail(error, "changed while being opened");
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  out.existed = true;
  out.in_place = out.existing.st_nlink > 1 || !can_replace(out.folder, out.existing);
  if (out.in_place) out.existing_fd = fd;
  else close(fd);
  return true;
}

// A named temporary file in the output's folder with the mode a new file
// gets (0666 less the umask, applied by the kernel). -1 with errno set.
int create_named_temporary(output_file &out) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    out.temporary = temporary_name(out.name);
    out.slot = remember_temporary(out.folder, out.temporary);
    const int fd = openat(out.folder, out.temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    const int saved = errno;
    forget_temporary(out.slot);
    out.temporary.clear();
    errno = saved;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// Where the new content is made until it is complete: an unnamed file in
// the output's folder, else a named one there; for a file rewritten in
// place, whose folder may not be writable, an unnamed file in memory.
int open_staging(output_file &out, std::string &error) {
  if (can_link_unnamed_files() || out.in_place) {
    const int fd = openat(out.folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (out.in_place) {
      const int memory = memfd_create("output", MFD_CLOEXEC);
      if (memory < 0) fail(error, "cannot make room for the new content");
      return memory;
    }
    // Where the file system has no unnamed files, a named one serves.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      fail(error, "cannot create");
      return -1;
    }
  }
  const int fd = create_named_temporary(out);
  if (fd < 0) fail(error, "cannot create");
  return fd;
}

// An output on the open descriptor `descriptor`, written as it stands.
bool open_descriptor(output_file &out, int descriptor, std::string &error) {
  const int flags = fcntl(descriptor, F_GETFL);
  const std::string which = "descriptor " + std::to_string(descriptor);
  if (flags < 0) {
    error = "cannot open for writing: " + which + " is not open";
    return false;
  }
  if ((flags & O_ACCMODE) == O_RDONLY || (flags & O_PATH) != 0) {
    error = "cannot open for writing: " + which + " is open for reading only";
    return false;
  }
  const int fd = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (fd < 0 || fstat(fd, &out.existing) != 0) {
    if (fd >= 0) close(fd);
    return fail(error, "cannot open for writing");
  }
  out.direct = true;
  out.stream = fdopen(fd, "wb");
  if (out.stream == nullptr) {
    close(fd);
    return fail(error, "cannot open for writing");
  }
  return true;
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

// Writes the content of `from` over the file open as `to`, which keeps its
// inode, so that all of its hard links see the new content. Space for it
// is reserved first where the file system can, so that a full disk stops
// the copy before the old content is touched.
bool copy_in_place(int from, int to, std::string &error) {
  struct stat st {};
  if (fstat(from, &st) != 0) return fail(error, "cannot read the new content");
  if (st.st_size > 0 && fallocate(to, 0, 0, st.st_size) != 0 && errno != EOPNOTSUPP) {
    return fail(error, "cannot make room for the new content");
  }
  std::vector<char> buffer(1 << 16);
  off_t offset = 0;
  while (offset < st.st_size) {
    const ssize_t n = pread(from, buffer.data(), buffer.size(), offset);
    if (n <= 0) {
      if (n == 0) errno = EIO;  // the new content shrank: cannot be
      return fail(error, "write error");
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = pwrite(to, buffer.data() + done, static_cast<std::size_t>(n - done), offset + done);
      if (w < 0) return fail(error, "write error");
      done += w;
    }
    offset += n;
  }
  if (ftruncate(to, st.st_size) != 0) return fail(error, "write error");
  return true;
}

// Gives the unnamed file `fd` a fresh temporary name beside the target.
bool name_unnamed(output_file &out, int fd) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    out.temporary = temporary_name(out.name);
    out.slot = remember_temporary(out.folder, out.temporary);
    if (link_unnamed(fd, out.folder, out.temporary)) return true;
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
      if (link_unnamed(fd, out.folder, out.name)) return true;
      if (errno != EEXIST) return fail(error, "cannot create");
    }
    if (!name_unnamed(out, fd)) return fail(error, "cannot create");
  }
  if (renameat(out.folder, out.temporary.c_str(), out.folder, out.name.c_str()) != 0) {
    return fail(error, "cannot replace");
  }
  forget_temporary(out.slot);
  out.temporary.clear();
  return true;
}

// The identity of what an opened output writes to, when it exists.
bool has_identity(const output_file &out) { return out.direct || out.existed; }

}  // namespace

bool open_output(output_file &out, const std::string &path, std::string &error) {
  out = output_file{};
  out.path = path;
  if (path.empty()) {
    error = "empty file name";
    return false;
  }
  const int descriptor = descriptor_named(path);
  if (descriptor >= 0) return open_descriptor(out, descriptor, error);
  if (!walk_path(path, out.folder, out.name, error)) return false;

  int fd = -1;
  struct stat st {};
  bool ok = true;
  if (fstatat(out.folder, out.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) {
      error = "is a directory";
      ok = false;
    } else if (!S_ISREG(st.st_mode)) {
      // A device or FIFO: written as it is, never replaced.
      fd = openat(out.folder, out.name.c_str(), O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
      ok = fd >= 0 && fstat(fd, &out.existing) == 0;
      if (!ok) fail(error, "cannot open for writing");
      out.direct = true;
    } else {
      ok = open_existing(out, error);
    }
  } else if (errno != ENOENT) {
    ok = fail(error, "cannot create");
  }
  if (ok && !out.direct) {
    fd = open_staging(out, error);
    ok = fd >= 0;
  }
  if (ok) {
    out.stream = fdopen(fd, "wb");
    if (out.stream == nullptr) ok = fail(error, "cannot create");
  }
  if (!ok) {
    if (out.stream == nullptr) close_keeping_errno(fd);
    discard_output(out);
    return false;
  }
  std::setvbuf(out.stream, nullptr, _IOFBF, 1 << 16);
  return true;
}

namespace {

// Flushes and closes the output's stream, reporting errors that some file
// systems give only at close. `fd` keeps the content open: an unnamed file
// needs it to be linked.
bool finish_content(output_file &out, int &fd, std::string &error) {
  fd = dup(fileno(out.stream));
  const bool flushed = std::fflush(out.stream) == 0 && std::ferror(out.stream) == 0;
  const int flush_errno = errno;
  const bool closed = std::fclose(out.stream) == 0;
  out.stream = nullptr;
  if (fd >= 0 && flushed && closed) return true;
  if (!flushed) errno = flush_errno;
  close_keeping_errno(fd);
  return fail(error, "write error");
}

// Puts the finished content `fd` where it belongs.
bool place_content(output_file &out, int fd, std::string &error) {
  if (out.direct) return true;  // already there
  if (!out.in_place) return place_by_rename(out, fd, error);
  bool ok = copy_in_place(fd, out.existing_fd, error);
  // Some file systems report a failed write only when the file is closed.
  if (close(out.existing_fd) != 0 && ok) ok = fail(error, "write error");
  out.existing_fd = -1;
  return ok;
}

// Removes the file place_content has just made, when there was none before.
void withdraw(output_file &out) {
  if (!out.existed && !out.direct && out.folder >= 0) unlinkat(out.folder, out.name.c_str(), 0);
}

}  // namespace

bool commit_output(output_file &out, std::string &error) {
  int fd = -1;
  const bool ok = finish_content(out, fd, error) && place_content(out, fd, error);
  close_keeping_errno(fd);
  discard_output(out);  // only what is left of an unfinished output
  return ok;
}

bool commit_outputs(output_file &first, output_file &second, std::string &error, bool &second_failed) {
  int first_fd = -1, second_fd = -1;
  second_failed = false;
  bool ok = finish_content(first, first_fd, error);
  if (ok && !finish_content(second, second_fd, error)) ok = !(second_failed = true);
  if (ok) ok = place_content(first, first_fd, error);
  if (ok && !place_content(second, second_fd, error)) {
    withdraw(first);
    ok = !(second_failed = true);
  }
  close_keeping_errno(first_fd);
  close_keeping_errno(second_fd);
  discard_output(first);
  discard_output(second);
  return ok;
}

void discard_output(output_file &out) {
  if (out.stream != nullptr) std::fclose(out.stream);
  out.stream = nullptr;
  if (!out.temporary.empty()) unlinkat(out.folder, out.temporary.c_str(), 0);
  out.temporary.clear();
  forget_temporary(out.slot);
  close_keeping_errno(out.existing_fd);
  close_keeping_errno(out.folder);
}

bool output_is_input(const std::string &path, int input_fd) {
  struct stat output {}, input {};
  if (fstat(input_fd, &input) != 0) return false;
  const int descriptor = descriptor_named(path);
  bool found = false;
  if (descriptor >= 0) {
    found = fstat(descriptor, &output) == 0;
  } else {
    int folder = 0;
    std::string name, error;
    if (!path.empty() && walk_path(path, folder, name, error)) {
      found = fstatat(folder, name.c_str(), &output, 0) == 0;
      close(folder);
    }
  }
  return found && output.st_dev == input.st_dev && output.st_ino == input.st_ino;
}

bool standard_output_is_file(int fd) {
  struct stat out {}, in {};
  return fstat(STDOUT_FILENO, &out) == 0 && fstat(fd, &in) == 0 && S_ISREG(out.st_mode) &&
         out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

bool output_is_open_file(const output_file &out, int fd) {
  struct stat st {};
  return has_identity(out) && fstat(fd, &st) == 0 && st.st_dev == out.existing.st_dev &&
         st.st_ino == out.existing.st_ino;
}

bool same_output(const output_file &a, const output_file &b) {
  if (has_identity(a) || has_identity(b)) {
    return has_identity(a) && has_identity(b) && a.existing.st_dev == b.existing.st_dev &&
           a.existing.st_ino == b.existing.st_ino;
  }
  struct stat folder_a {}, folder_b {};
  return a.name == b.name && fstat(a.folder, &folder_a) == 0 && fstat(b.folder, &folder_b) == 0 &&
         folder_a.st_dev == folder_b.st_dev && folder_a.st_ino == folder_b.st_ino;
}

void install_output_cleanup() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    struct sigaction old {};
    if (sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = remove_temporaries_and_die;
    sigemptyset(&action.sa_mask);
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    sigaction(signal_number, &action, nullptr);
  }
  // A write past the file-size limit (ulimit -f) fails with EFBIG, "File
  // too large", as every other write error does: that output is discarded
  // and a batch goes on, where the signal would end the process.
  signal(SIGXFSZ, SIG_IGN);
}

void remove_outputs_on_bus_error(const char *line) {
  bus_error_line = line;
  struct sigaction action {};
  action.sa_handler = remove_temporaries_and_die;
  sigemptyset(&action.sa_mask);
  action.sa_flags = static_cast<int>(SA_RESETHAND);
  sigaction(SIGBUS, &action, nullptr);
}

bool make_output_folder(const std::string &directory) {
  struct stat st {};
  if (stat(directory.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    report(quoted_name(directory), "not a directory; name a folder for -d");
    return false;
  }
  if (mkdir(directory.c_str(), 0777) == 0 || errno == EEXIST) return true;
  report(quoted_name(directory), with_errno("cannot create the folder"));
  return false;
}
