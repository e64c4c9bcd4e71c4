// The standard descriptors held open, and standard output closed and
// checked at exit.
#include "standard_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "diagnostics.h"

void hold_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free descriptor, which is `fd` itself. Where
    // /dev/null is missing (a bare chroot) the root folder serves: it can
    // be neither read as a file nor written.
    int held = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (held < 0) held = open("/", O_RDONLY | O_DIRECTORY);
    if (held >= 0 && held != fd) close(held);
  }
}

bool close_standard_output(std::string &error) {
  const bool flushed = std::fflush(stdout) == 0;
  int reason = errno;
  bool ok = flushed && std::ferror(stdout) == 0;
  if (flushed && !ok) reason = EIO;  // an earlier write failed
  if (std::fclose(stdout) != 0) {
    // A descriptor that was never open has lost nothing when nothing was
    // written to it.
    if (ok && errno != EBADF) reason = errno, ok = false;
  }
  if (!ok) error = write_error_text(reason);
  return ok;
}

int finish_standard_output(int status) {
  std::string error;
  if (close_standard_output(error) || status == 1 || status == 2) return status;
  report(standard_output_name, error);
  return 1;
}
