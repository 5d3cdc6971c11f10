// A file system of its own over an existing directory, for one test: a small tmpfs (a disk that
// fills up) or a read-only view of the directory (which even root cannot write). Mounting needs
// privileges the test may not have: `mounted()` says whether it worked, so the test can skip.
// Unmounted when destroyed.
#pragma once

#include <sys/mount.h>

#include <string>

namespace kestrun_test {

class ScratchMount {
 public:
  static ScratchMount tmpfs(const std::string& dir, size_t bytes) {
    const std::string options = "size=" + std::to_string(bytes);
    return ScratchMount(dir, mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0);
  }

  static ScratchMount read_only(const std::string& dir) {
    if (mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) return ScratchMount(dir, false);
    ScratchMount bound(dir, true);
    bound.mounted_ = mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    if (!bound.mounted_) umount2(dir.c_str(), MNT_DETACH);
    return bound;
  }

  ScratchMount(ScratchMount&& other) noexcept : dir_(other.dir_), mounted_(other.mounted_) {
    other.mounted_ = false;
  }
  ScratchMount(const ScratchMount&) = delete;
  ScratchMount& operator=(const ScratchMount&) = delete;
  ~ScratchMount() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }

  bool mounted() const { return mounted_; }

 private:
  ScratchMount(const std::string& dir, bool mounted) : dir_(dir), mounted_(mounted) {}

  std::string dir_;
  bool mounted_;
};

}  // namespace kestrun_test
