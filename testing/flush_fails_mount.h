// Mounts flush_fails_fs (a FUSE file system whose every flush fails with
// EIO) on a folder for the life of the object. Where it cannot be mounted
// (no fuse3 at build time, no /dev/fuse, no permission), `skip_reason`
// says why and the test should skip with it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

class flush_fails_mount {
 public:
  explicit flush_fails_mount(const std::filesystem::path &folder) : folder_(folder) {
#ifndef FLUSH_FAILS_FS_PATH
    skip_reason = "flush_fails_fs was not built (fuse3 development files missing)";
#else
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
      skip_reason = "/dev/fuse is not there or not usable by this user";
      return;
    }
    std::filesystem::create_directories(folder_);
    struct stat before {};
    stat(folder_.c_str(), &before);
    pid_ = fork();
    if (pid_ == 0) {
      execl(FLUSH_FAILS_FS_PATH, FLUSH_FAILS_FS_PATH, folder_.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    // Mounted once the folder is on another device.
    for (int i = 0; i < 200; ++i) {
      struct stat now {};
      if (stat(folder_.c_str(), &now) == 0 && now.st_dev != before.st_dev) return;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        skip_reason = "flush_fails_fs could not mount (no permission to mount FUSE here?)";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    skip_reason = "flush_fails_fs did not mount within 5 s";
#endif
  }

  ~flush_fails_mount() {
    if (pid_ <= 0) return;
    const std::string command = "fusermount3 -u '" + folder_.string() + "' 2>/dev/null || umount -l '" +
                                folder_.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }

  flush_fails_mount(const flush_fails_mount &) = delete;
  flush_fails_mount &operator=(const flush_fails_mount &) = delete;

  std::string skip_reason;

 private:
  std::filesystem::path folder_;
  pid_t pid_ = -1;
};
