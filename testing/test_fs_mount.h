// Mounts test_fs (a FUSE file system in memory, see test_fs.cpp) on a
// folder for the life of the object. Where it cannot be mounted (no fuse3
// at build time, no /dev/fuse, no permission), `skip_reason` says why and
// the test should skip with it.
#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

class test_fs_mount {
 public:
  // `option` is "", "--fail-flush" or "--short-writes".
  test_fs_mount(const std::filesystem::path &folder, const std::string &option) : folder_(folder) {
#ifndef TEST_FS_PATH
    (void)option;
    skip_reason = "test_fs was not built (fuse3 development files missing)";
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
      if (option.empty()) {
        execl(TEST_FS_PATH, TEST_FS_PATH, folder_.c_str(), static_cast<char *>(nullptr));
      } else {
        execl(TEST_FS_PATH, TEST_FS_PATH, option.c_str(), folder_.c_str(), static_cast<char *>(nullptr));
      }
      _exit(127);
    }
    // Mounted once the folder is on another device.
    for (int i = 0; i < 200; ++i) {
      struct stat now {};
      if (stat(folder_.c_str(), &now) == 0 && now.st_dev != before.st_dev) return;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        skip_reason = "test_fs could not mount (no permission to mount FUSE here?)";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    skip_reason = "test_fs did not mount within 5 s";
#endif
  }

  ~test_fs_mount() {
    if (pid_ <= 0) return;
    const std::string command = "fusermount3 -u '" + folder_.string() + "' 2>/dev/null || umount -l '" +
                                folder_.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }

  test_fs_mount(const test_fs_mount &) = delete;
  test_fs_mount &operator=(const test_fs_mount &) = delete;

  std::string skip_reason;

 private:
  std::filesystem::path folder_;
  pid_t pid_ = -1;
};
