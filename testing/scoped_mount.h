// A tmpfs mounted on a folder for the life of the object, for tests that
// need a full or read-only file system. Mounting needs root; where it
// fails, `skip_reason` says why and the test should skip with it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class scoped_tmpfs {
 public:
  // `options` as for mount -o, e.g. "size=64k" or "ro".
  scoped_tmpfs(const std::filesystem::path &folder, const std::string &options) : folder_(folder) {
    std::filesystem::create_directories(folder_);
    const std::string command = "mount -t tmpfs -o " + options + " tmpfs '" + folder_.string() +
                                "' 2>/dev/null";
    if (std::system(command.c_str()) == 0) {
      mounted_ = true;
    } else {
      skip_reason = "cannot mount a tmpfs here (mounting needs root and a kernel that allows it)";
    }
  }
  ~scoped_tmpfs() {
    if (mounted_) {
      [[maybe_unused]] const int status =
          std::system(("umount -l '" + folder_.string() + "' 2>/dev/null").c_str());
    }
  }
  scoped_tmpfs(const scoped_tmpfs &) = delete;
  scoped_tmpfs &operator=(const scoped_tmpfs &) = delete;

  std::string skip_reason;

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
};
