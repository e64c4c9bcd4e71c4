#include "standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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
  if (!ok) error = std::string("write error: ") + std::strerror(reason);
  return ok;
}

int finish_standard_output(const char *program, int status) {
  std::string error;
  if (close_standard_output(error) || status == 1 || status == 2) return status;
  std::fprintf(stderr, "%s: (standard output): %s\n", program, error.c_str());
  return 1;
}
