#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

// The permissions a newly created file would get under the current umask.
mode_t new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

pending_file open_pending(const std::string &target, std::string &error) {
  pending_file file;
  std::string pattern = folder_of(target) + "/." + base_of(target) + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    error = std::strerror(errno);
    return file;
  }
  file.temporary_path = name.data();
  fchmod(fd, new_file_mode());
  file.stream = fdopen(fd, "wb");
  if (!file.stream) {
    error = std::strerror(errno);
    close(fd);
    unlink(file.temporary_path.c_str());
    return file;
  }
  static thread_local char buffer[1 << 16];
  std::setvbuf(file.stream, buffer, _IOFBF, sizeof buffer);
  return file;
}

bool commit_pending(pending_file &file, const std::string &target, std::string &error) {
  const bool flushed = std::fflush(file.stream) == 0 && !std::ferror(file.stream);
  const int saved = errno;
  const bool closed = std::fclose(file.stream) == 0;
  file.stream = nullptr;
  if (!flushed || !closed) {
    error = std::string("write error: ") + std::strerror(flushed ? errno : saved);
    unlink(file.temporary_path.c_str());
    return false;
  }
  if (std::rename(file.temporary_path.c_str(), target.c_str()) != 0) {
    error = std::strerror(errno);
    unlink(file.temporary_path.c_str());
    return false;
  }
  return true;
}

void discard_pending(pending_file &file) {
  if (file.stream) std::fclose(file.stream);
  file.stream = nullptr;
  if (!file.temporary_path.empty()) unlink(file.temporary_path.c_str());
}
