// File-system helpers of the platform framework. Paths are UTF-8 byte strings handed to POSIX as
// they are; nothing here follows a symbolic link when it removes.
#pragma once

#include <stdexcept>
#include <string>

namespace harnvik {

namespace fatal_err {

// A failed system call: what was attempted, on which path, and the errno it left.
class system : public std::runtime_error {
 public:
  system(const std::string& operation, const std::string& path, int error);
  int error() const { return error_; }

 private:
  int error_;
};

}  // namespace fatal_err

// True when a file or a directory (or anything else) is at the path, following symbolic links.
bool file_or_dir_exists(const std::string& path);

// Makes one directory (mode 0755 before the umask). A directory already there is success;
// anything else that fails throws fatal_err::system.
void ensure_mkdir(const std::string& path);

// Deletes one non-directory entry; a symbolic link is deleted itself, not its target. A missing
// entry is success; anything else that fails throws fatal_err::system.
void ensure_unlink(const std::string& path);

// Removes everything inside the directory and keeps the directory. Subdirectories are emptied and
// removed; symbolic links inside are deleted, never followed, so nothing outside the tree is
// touched; a path that is itself a symbolic link is refused. Throws fatal_err::system when the directory or
// an entry cannot be removed.
void clear_dir(const std::string& path);

// The path without its last component and the separators before it: "/a/b" gives "/a", "/a" and
// "/" give "/", "a" and "" give "". Trailing separators are not a component ("a/b/" gives "a").
std::string remove_last_path_component(const std::string& path);

}  // namespace harnvik
